// Runs the built orbtool on generated documents.
#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "ProgramRunner.h"

namespace orb {
namespace {

const std::string kBom = "\xEF\xBB\xBF";

// A per-test folder for the documents and the tool's output.
class OrbToolIni : public ::testing::Test {
protected:
    std::string WriteFile(const std::string& name, const std::string& bytes) {
        const std::string path = m_folder.File(name);
        std::ofstream(path, std::ios::binary) << bytes;
        return path;
    }

    ql::test::TProgramRun Run(const std::vector<std::string>& args) {
        return ql::test::RunProgram(m_folder.Path(), ORBTOOL_PATH, args);
    }

    ql::test::TTestFolder m_folder;
};

const std::string kDocument = kBom +
    "; show\r\n[Main]\r\nTitle = Caf\xC3\xA9 night  \r\nEmpty=\r\n\r\n[Slide 1]\r\n"
    "object pic : TOrbImage\r\n  File=a.jpg\r\nend\r\n[main]\r\nLater=1\r\n";

TEST_F(OrbToolIni, SectionList_EveryHeaderInDocumentOrder) {
    const auto r = Run({"ini", WriteFile("a.ini", kDocument)});
    EXPECT_EQ(r.Code, 0);
    EXPECT_EQ(r.Out, "Main\nSlide 1\nmain\n");
    EXPECT_EQ(r.Err, "");
}

TEST_F(OrbToolIni, KeyLookup_PrintsValueOrExitsOneWithNothing) {
    const std::string path = WriteFile("a.ini", kDocument);
    auto r = Run({"ini", path, "MAIN", "title"});
    EXPECT_EQ(r.Code, 0);
    EXPECT_EQ(r.Out, "Caf\xC3\xA9 night\n");

    // Without a mark the text is in the ANSI code page.
    r = Run({"ini", WriteFile("ansi.ini", "[Main]\r\nTitle=Caf\xE9\r\n"), "main", "title"});
    EXPECT_EQ(r.Code, 0);
    EXPECT_EQ(r.Out, "Caf\xC3\xA9\n");

    r = Run({"ini", path, "main", "Empty"});
    EXPECT_EQ(r.Code, 0);
    EXPECT_EQ(r.Out, "\n");

    r = Run({"ini", path, "main", "later"});
    EXPECT_EQ(r.Code, 0);
    EXPECT_EQ(r.Out, "1\n");

    r = Run({"ini", path, "Main", "Missing"});
    EXPECT_EQ(r.Code, 1);
    EXPECT_EQ(r.Out, "");

    r = Run({"ini", path, "Nowhere", "Title"});
    EXPECT_EQ(r.Code, 1);
    EXPECT_EQ(r.Out, "");
}

TEST_F(OrbToolIni, Save_WritesTheDocumentBackAsSaved) {
    const auto r = Run({"ini", "--save", WriteFile("a.ini", "[A]\nk = v\n  \nbad line\nend\n")});
    EXPECT_EQ(r.Code, 0);
    EXPECT_EQ(r.Out, kBom + "[A]\r\nk = v\r\n\r\n");

    // What --save wrote reads back unchanged.
    const auto again = Run({"ini", "--save", WriteFile("b.ini", r.Out)});
    EXPECT_EQ(again.Code, 0);
    EXPECT_EQ(again.Out, r.Out);
}

TEST_F(OrbToolIni, Errors_ExitTwoWithOneLineOnStandardError) {
    const std::vector<std::vector<std::string>> cases = {
        {"ini", m_folder.File("missing.ini")},
        {"ini", m_folder.Path()},
        {"ini", WriteFile("bad.ini", kBom + "[A]\r\nk=\x80\r\n")},
        {"ini"},
        {"ini", "a", "b"},
        {"ini", "--save"},
    };
    for (const auto& args : cases) {
        const auto r = Run(args);
        EXPECT_EQ(r.Code, 2) << args.back();
        EXPECT_EQ(r.Out, "") << args.back();
        ASSERT_FALSE(r.Err.empty()) << args.back();
        EXPECT_EQ(r.Err.find('\n'), r.Err.size() - 1) << r.Err;
    }
}

TEST_F(OrbToolIni, Help_ListsCommandsAndOptions) {
    auto r = Run({"--help"});
    EXPECT_EQ(r.Code, 0);
    EXPECT_NE(r.Out.find("ini"), std::string::npos);
    r = Run({"ini", "--help"});
    EXPECT_EQ(r.Code, 0);
    EXPECT_NE(r.Out.find("--save"), std::string::npos);
    r = Run({"nosuchcommand"});
    EXPECT_EQ(r.Code, 2);
}

TEST_F(OrbToolIni, BinaryGarbage_NeverCrashes) {
    std::mt19937 random(1234);
    for (int i = 0; i < 12; ++i) {
        std::string bytes(1 + random() % 3000, '\0');
        for (char& c : bytes) c = static_cast<char>(random());
        // Half of them pose as UTF-8 or UTF-16 text.
        if (i % 4 == 1) bytes = kBom + bytes;
        if (i % 4 == 2) bytes = "\xFF\xFE" + bytes;
        const std::string path = WriteFile("g" + std::to_string(i) + ".ini", bytes);
        for (const auto& args : std::vector<std::vector<std::string>>{
                 {"ini", path}, {"ini", path, "a", "b"}, {"ini", "--save", path}}) {
            const auto r = Run(args);
            EXPECT_TRUE(r.Code == 0 || r.Code == 1 || r.Code == 2)
                << "case " << i << " exit " << r.Code;
            if (r.Code == 2) {
                EXPECT_EQ(r.Out, "");
            }
        }
    }
}

}  // namespace
}  // namespace orb
