// Runs the built orbtool on generated documents.
#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <string>

namespace orb {
namespace {

const std::string kBom = "\xEF\xBB\xBF";

struct TRunResult {
    int exitCode = -1;  // -1 when the tool did not exit normally
    std::string out;
    std::string err;
};

// A per-test folder for the documents and the tool's standard error.
class OrbToolIni : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (std::filesystem::temp_directory_path() / "orbtool-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        m_folder = pattern;
    }
    void TearDown() override {
        std::error_code ignored;
        std::filesystem::remove_all(m_folder, ignored);
    }

    std::string WriteFile(const std::string& name, const std::string& bytes) {
        const std::string path = m_folder + "/" + name;
        std::ofstream(path, std::ios::binary) << bytes;
        return path;
    }

    static std::string Quote(const std::string& arg) {
        std::string quoted = "'";
        for (char c : arg) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
        return quoted + "'";
    }

    TRunResult Run(const std::vector<std::string>& args) {
        const std::string errPath = m_folder + "/stderr.txt";
        std::string command = Quote(ORBTOOL_PATH);
        for (const auto& arg : args) command += " " + Quote(arg);
        command += " 2>" + Quote(errPath);
        TRunResult result;
        FILE* pipe = ::popen(command.c_str(), "r");
        if (!pipe) return result;
        char buffer[4096];
        size_t n;
        while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) result.out.append(buffer, n);
        const int status = ::pclose(pipe);
        // The shell reports a signal that killed the tool as 128 + the signal.
        if (WIFEXITED(status) && WEXITSTATUS(status) < 128) result.exitCode = WEXITSTATUS(status);
        std::ifstream err(errPath, std::ios::binary);
        result.err.assign(std::istreambuf_iterator<char>(err), {});
        return result;
    }

    std::string m_folder;
};

const std::string kDocument = kBom +
    "; show\r\n[Main]\r\nTitle = Caf\xC3\xA9 night  \r\nEmpty=\r\n\r\n[Slide 1]\r\n"
    "object pic : TOrbImage\r\n  File=a.jpg\r\nend\r\n[main]\r\nLater=1\r\n";

TEST_F(OrbToolIni, SectionList_EveryHeaderInDocumentOrder) {
    const auto r = Run({"ini", WriteFile("a.ini", kDocument)});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out, "Main\nSlide 1\nmain\n");
    EXPECT_EQ(r.err, "");
}

TEST_F(OrbToolIni, KeyLookup_PrintsValueOrExitsOneWithNothing) {
    const std::string path = WriteFile("a.ini", kDocument);
    auto r = Run({"ini", path, "MAIN", "title"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out, "Caf\xC3\xA9 night\n");

    // Without a mark the text is in the ANSI code page.
    r = Run({"ini", WriteFile("ansi.ini", "[Main]\r\nTitle=Caf\xE9\r\n"), "main", "title"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out, "Caf\xC3\xA9\n");

    r = Run({"ini", path, "main", "Empty"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out, "\n");

    r = Run({"ini", path, "main", "later"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out, "1\n");

    r = Run({"ini", path, "Main", "Missing"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out, "");

    r = Run({"ini", path, "Nowhere", "Title"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out, "");
}

TEST_F(OrbToolIni, Save_WritesTheDocumentBackAsSaved) {
    const auto r = Run({"ini", "--save", WriteFile("a.ini", "[A]\nk = v\n  \nbad line\nend\n")});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out, kBom + "[A]\r\nk = v\r\n\r\n");

    // What --save wrote reads back unchanged.
    const auto again = Run({"ini", "--save", WriteFile("b.ini", r.out)});
    EXPECT_EQ(again.exitCode, 0);
    EXPECT_EQ(again.out, r.out);
}

TEST_F(OrbToolIni, Errors_ExitTwoWithOneLineOnStandardError) {
    const std::vector<std::vector<std::string>> cases = {
        {"ini", m_folder + "/missing.ini"},
        {"ini", m_folder},
        {"ini", WriteFile("bad.ini", kBom + "[A]\r\nk=\x80\r\n")},
        {"ini"},
        {"ini", "a", "b"},
        {"ini", "--save"},
    };
    for (const auto& args : cases) {
        const auto r = Run(args);
        EXPECT_EQ(r.exitCode, 2) << args.back();
        EXPECT_EQ(r.out, "") << args.back();
        ASSERT_FALSE(r.err.empty()) << args.back();
        EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << r.err;
    }
}

TEST_F(OrbToolIni, Help_ListsCommandsAndOptions) {
    auto r = Run({"--help"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_NE(r.out.find("ini"), std::string::npos);
    r = Run({"ini", "--help"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_NE(r.out.find("--save"), std::string::npos);
    r = Run({"nosuchcommand"});
    EXPECT_EQ(r.exitCode, 2);
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
            EXPECT_TRUE(r.exitCode == 0 || r.exitCode == 1 || r.exitCode == 2)
                << "case " << i << " exit " << r.exitCode;
            if (r.exitCode == 2) {
                EXPECT_EQ(r.out, "");
            }
        }
    }
}

}  // namespace
}  // namespace orb
