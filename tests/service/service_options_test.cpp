// The service's command line: each option's bounds (the last value taken, the first refused on
// either side), what a refusal says, and where the values end up.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "service/service_options.h"

namespace glimmerly::service {
namespace {

using namespace std::chrono_literals;
struct Parsed {
    CommandLine action;
    ServiceOptions options;
    std::string error;
};

Parsed Parse(const std::vector<std::string>& args, const char* database = nullptr) {
    Parsed p;
    p.action = ParseCommandLine(args, database, "/daten", p.options, p.error);
    return p;
}

// Whether `option value` is taken; a refusal must name both and come without the usage.
bool Takes(const std::string& option, const std::string& value) {
    Parsed line = Parse({option, value});
    if (line.action != CommandLine::Run) {
        EXPECT_EQ(line.action, CommandLine::Refused);
        EXPECT_EQ(line.error, "invalid value for " + option + ": " + value);
    }
    return line.action == CommandLine::Run;
}

TEST(ServiceOptionsTest, DefaultsComeFromTheCallerAndTheEnvironment) {
    Parsed line = Parse({});
    ASSERT_EQ(line.action, CommandLine::Run);
    EXPECT_EQ(line.options.store.folder, "/daten");
    EXPECT_EQ(line.options.store.database, "");
    EXPECT_EQ(line.options.server.servicePort, 8460);
    EXPECT_EQ(line.options.sessionRetention, 30 * 24h);
    EXPECT_EQ(line.options.accessLog, "-");

    EXPECT_EQ(Parse({}, "postgresql://db/bilder").options.store.database, "postgresql://db/bilder");
    EXPECT_EQ(Parse({}, "").options.store.database, "");
    // The option wins over the environment, and is checked where the environment is not.
    line = Parse({"--database", "postgres://andere/db", "--data", "/anderswo"}, "postgresql://x/y");
    EXPECT_EQ(line.options.store.database, "postgres://andere/db");
    EXPECT_EQ(line.options.store.folder, "/anderswo");
    EXPECT_FALSE(Takes("--database", "mysql://db/bilder"));
    EXPECT_FALSE(Takes("--database", "postgresql:/db"));
}

TEST(ServiceOptionsTest, HelpVersionAndUnknownOptions) {
    EXPECT_EQ(Parse({"--help"}).action, CommandLine::Help);
    EXPECT_EQ(Parse({"-h", "--gibtsnicht"}).action, CommandLine::Help);
    EXPECT_EQ(Parse({"--version"}).action, CommandLine::Version);
    // Not as the last argument, --version is the version announced to clients.
    Parsed line = Parse({"--version", "4.0"});
    ASSERT_EQ(line.action, CommandLine::Run);
    EXPECT_EQ(line.options.server.version, "4.0");
    for (const char* bad : {"4|0", "4\r", "4\n"}) {
        EXPECT_FALSE(Takes("--version", bad)) << bad;
    }

    line = Parse({"--gibtsnicht", "1"});
    EXPECT_EQ(line.action, CommandLine::RefusedWithUsage);
    EXPECT_EQ(line.error, "unknown option: --gibtsnicht");
    line = Parse({"--service-port", "1", "--data"});
    EXPECT_EQ(line.action, CommandLine::RefusedWithUsage);
    EXPECT_EQ(line.error, "unknown option or missing value: --data");

    line = Parse({"--quarantine-missing", "--proxy-protocol"});
    ASSERT_EQ(line.action, CommandLine::Run);
    EXPECT_TRUE(line.options.store.quarantineMissing);
    EXPECT_TRUE(line.options.server.proxyProtocol);
}

TEST(ServiceOptionsTest, WholeNumbersWithinTheirBounds) {
    for (const char* port : {"--service-port", "--upload-port"}) {
        EXPECT_TRUE(Takes(port, "0")) << port;
        EXPECT_TRUE(Takes(port, "65535")) << port;
        for (const char* bad : {"65536", "-1", "", "80x", "x"}) {
            EXPECT_FALSE(Takes(port, bad)) << port << " " << bad;
        }
    }
    EXPECT_EQ(Parse({"--upload-port", "65535"}).options.server.uploadPort, 65535);

    EXPECT_TRUE(Takes("--database-pool", "1"));
    EXPECT_TRUE(Takes("--database-pool", "1000"));
    for (const char* bad : {"0", "1001", "", "8 "}) {
        EXPECT_FALSE(Takes("--database-pool", bad)) << bad;
    }
    EXPECT_EQ(Parse({"--database-pool", "1000"}).options.store.poolSize, 1000);

    for (const char* limit : {"--per-address-limit", "--event-streams"}) {
        EXPECT_TRUE(Takes(limit, "1")) << limit;
        EXPECT_TRUE(Takes(limit, "100000")) << limit;
        // strtoul would take a sign or a blank in front; the option does not.
        for (const char* bad : {"0", "100001", "", "+5", " 5", "-1", "5k"}) {
            EXPECT_FALSE(Takes(limit, bad)) << limit << " " << bad;
        }
    }
    Parsed line = Parse({"--per-address-limit", "512", "--event-streams", "100000"});
    EXPECT_EQ(line.options.server.perAddressLimit, 512u);
    EXPECT_EQ(line.options.server.eventStreamsPerAddress, 100000u);
}

TEST(ServiceOptionsTest, DurationsWithinTheirBounds) {
    for (const char* timeout : {"--header-timeout", "--body-timeout", "--drain-timeout"}) {
        EXPECT_TRUE(Takes(timeout, "0.1")) << timeout;
        EXPECT_TRUE(Takes(timeout, "3600")) << timeout;
        for (const char* bad : {"0.09", "3600.1", "", "nan", "5s"}) {
            EXPECT_FALSE(Takes(timeout, bad)) << timeout << " " << bad;
        }
    }
    for (const char* event : {"--event-ping", "--event-lifetime"}) {
        EXPECT_TRUE(Takes(event, "0.1")) << event;
        EXPECT_TRUE(Takes(event, "86400")) << event;
        for (const char* bad : {"0.09", "86400.1", "", "1m"}) {
            EXPECT_FALSE(Takes(event, bad)) << event << " " << bad;
        }
    }
    EXPECT_TRUE(Takes("--session-ttl", "0.001"));
    EXPECT_TRUE(Takes("--session-ttl", "999999999"));
    for (const char* bad : {"0", "-1", "1e9", ""}) {
        EXPECT_FALSE(Takes("--session-ttl", bad)) << bad;
    }
    EXPECT_TRUE(Takes("--session-retention", "0"));
    EXPECT_TRUE(Takes("--session-retention", "100000"));
    for (const char* bad : {"-0.1", "100000.1", "", "30d"}) {
        EXPECT_FALSE(Takes("--session-retention", bad)) << bad;
    }

    Parsed line =
        Parse({"--header-timeout", "2.5", "--drain-timeout", "0.1", "--session-ttl", "60",
               "--session-retention", "0.5", "--event-ping", "1", "--event-lifetime", "2"});
    ASSERT_EQ(line.action, CommandLine::Run);
    EXPECT_EQ(line.options.server.headerTimeout, 2500ms);
    EXPECT_EQ(line.options.drainTimeout, 100ms);
    EXPECT_EQ(line.options.server.sessionTtl, 60s);
    EXPECT_EQ(line.options.sessionRetention, 12h);
    EXPECT_EQ(line.options.server.eventPing, 1s);
    EXPECT_EQ(line.options.server.eventLifetime, 2s);
}

TEST(ServiceOptionsTest, TextsThatEndUpInRepliesAndLogs) {
    EXPECT_TRUE(Takes("--public-host", "bilder.example:8080"));
    for (const char* bad : {"", "a b", "a/b", "a\\b", "a\rb", "a\nb", "a\tb"}) {
        EXPECT_FALSE(Takes("--public-host", bad)) << bad;
    }
    EXPECT_FALSE(Takes("--access-log", ""));
    EXPECT_EQ(Parse({"--access-log", "off"}).options.accessLog, "off");
    EXPECT_EQ(Parse({"--log-format", "json"}).options.logFormat, LogFormat::Json);
    EXPECT_EQ(Parse({"--log-format", "text"}).options.logFormat, LogFormat::Text);
    EXPECT_FALSE(Takes("--log-format", "JSON"));
    Parsed line = Parse({"--instance", "a", "--listen", "10.0.0.11"});
    EXPECT_EQ(line.options.server.instance, "a");
    EXPECT_EQ(line.options.server.listenAddress, "10.0.0.11");
}

} // namespace
} // namespace glimmerly::service
