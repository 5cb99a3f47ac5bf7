#include "text/cp1252.h"
#include "text/screenshot_name.h"

#include <gtest/gtest.h>

namespace glimmerly {
namespace {

struct TitleCase {
    const char* title; // UTF-8 here, converted to Windows-1252 before use
    const char* name;
};

void PrintTo(const TitleCase& c, std::ostream* os) {
    *os << '"' << c.title << '"';
}

class ScreenshotNameTest : public ::testing::TestWithParam<TitleCase> {};

TEST_P(ScreenshotNameTest, ProposesNameFromTitle) {
    const auto& c = GetParam();
    const std::string name = MakeScreenshotName(cp1252::FromUtf8(c.title));
    EXPECT_EQ(cp1252::ToUtf8(name), c.name) << "title: " << c.title;
}

INSTANTIATE_TEST_SUITE_P(
    Titles, ScreenshotNameTest,
    ::testing::Values(
        TitleCase{"Unbenannt - Editor", "editor"},
        TitleCase{"Neue Nachricht - Mail [Entwurf]", "mail_entwurf"},
        TitleCase{"Kosten-Nutzen-Analyse (Entwurf)", "analyse_entwurf"},
        TitleCase{"Was ist neu? - Hilfe", "hilfe"},
        TitleCase{"100% Zoom: Plan.png - Bildbetrachter", "bildbetrachter"},
        TitleCase{"Kalender - Termine der Woche 12", "termine_der_woche_12"},
        TitleCase{"Rechnung Nr. 2024 (Entwurf).pdf", "rechnung_nr"},
        TitleCase{"Aufgaben für die nächste Woche", "aufgaben_für"},
        TitleCase{"Übersicht der Öffnungszeiten", "übersicht_der"},
        TitleCase{"Übersicht - Öffentliche Verkehrsmittel", "öffentliche_verkehrsmittel"},
        TitleCase{"Quartalsbericht Vertriebsabteilung Nord",
                  "quartalsbericht_vertriebsabteilung_nord"},
        TitleCase{"D:\\Daten\\Fotos\\Urlaub 2009.jpg", "ddatenfotosurlaub_2009"},
        TitleCase{"Donaudampfschifffahrtsgesellschaft", "donaudampfschifffahrtsgesellschaft"},
        TitleCase{"abcdefghijklmnopqrstu", "abcdefghijklmnopqrstu_"}, TitleCase{"Projekt -", ""},
        TitleCase{"  Start  ", "start"}, TitleCase{"", ""},
        // Not in the table, but the rules say so: control characters trim like blanks, the
        // replacement list leaves "&+," alone, and Windows-1252 capitals lower-case.
        TitleCase{"\tA&B+C,D\r\n", "a&b+c,d"}, TitleCase{"ŠŒŽŸ", "šœžÿ"}, TitleCase{"a×b", "a×b"},
        // The edges: 20 characters stay, 21 are shortened; a two-word form of 24 characters is
        // taken, one of 25 is not.
        TitleCase{"aaaaa bbbbb ccccc dd", "aaaaa_bbbbb_ccccc_dd"},
        TitleCase{"aaaaa bbbbb ccccc ddd", "aaaaa_bbbbb"},
        TitleCase{"abcdefghijkl mnopqrstuvw x", "abcdefghijkl_mnopqrstuvw"},
        TitleCase{"abcdefghijkl mnopqrstuvwx y", "abcdefghijkl_mnopqrstuvwx_y"}),
    [](const ::testing::TestParamInfo<TitleCase>& info) {
        return "Title" + std::to_string(info.index);
    });

TEST(ScreenshotName, CountsOneBytePerUmlaut) {
    // 21 characters of which two are umlauts: over the limit only if they count once each.
    const std::string title = cp1252::FromUtf8("Öl Übersichtsplan abcd");
    ASSERT_EQ(title.size(), 22u);
    EXPECT_EQ(cp1252::ToUtf8(MakeScreenshotName(title)), "öl_übersichtsplan");
}

TEST(ScreenshotName, TakesAtMost255CharactersAfterTheLastDash) {
    const std::string tail(300, 'x');
    const std::string name = MakeScreenshotName("a - " + tail);
    // 255 characters taken, the first being the blank after the dash, which the trim removes.
    EXPECT_EQ(name, std::string(254, 'x'));
}

} // namespace
} // namespace glimmerly
