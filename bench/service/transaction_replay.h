#pragma once
// The service's upload transaction replayed by pgbench in several shapes (the change notice as a
// statement of its own, folded into the counter's statement, no notice, no counter), and small
// helpers for reading a cluster's statistics.

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/service/pg_cluster.h"

namespace glimmerly::bench {

using Rows = std::vector<std::vector<std::string>>;

// Rows of a query as text; nothing when it fails (the error is printed).
Rows Query(service::test::PgCluster& cluster, const std::string& database, const std::string& sql);
// The first row's column as a number, 0 when there is none.
double Number(const Rows& rows, int column = 0);

inline double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

struct Shape {
    std::string name;
    std::vector<double> rates; // transactions per second, one per round
    std::vector<double> cpuMs; // PostgreSQL CPU per transaction, one per round
};

// Replays the upload transaction on database (a service's schema with the sessions bench0 …
// bench<clients-1>) with pgbench: clients connections, seconds per run, the shapes in turn for
// rounds rounds. A connection listening on the change channel is attached, as in operation.
// Empty when pgbench failed.
std::vector<Shape> ReplayUploadTransaction(service::test::PgCluster& cluster,
                                           const std::string& database,
                                           const std::filesystem::path& folder, int clients,
                                           int seconds, int rounds);

} // namespace glimmerly::bench
