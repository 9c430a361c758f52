#include "OrbLib2/OrbViewer/qlOrbRunCommand.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>

#include "QlLib/Platform/qlHeadlessHost.h"
#include "QlLib/qpStringUtils.h"
#include "TestFolder.h"

namespace orb {
namespace {

class RunCommandTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_context.ShowFolder = ql::FromUtf8(m_folder.Path());
        // A harmless native program in the show's folder: any ELF-looking file
        // will do, it is never started by the headless host.
        MakeFile("viewer",
                 "\x7f"
                 "ELF",
                 true);
    }

    void MakeFile(const std::string& name, const std::string& text, bool executable) {
        std::ofstream(m_folder.File(name), std::ios::binary) << text;
        ::chmod(m_folder.File(name).c_str(), executable ? 0755 : 0644);
    }

    void Answer(const std::string& script) {
        std::string error;
        ASSERT_TRUE(m_host.LoadScript(script, error)) << error;
        ql::THostEvent event;
        m_host.PollEvent(event);
    }

    ql::test::TTestFolder m_folder;
    ql::THeadlessHost m_host;
    TRunContext m_context;
};

TEST_F(RunCommandTest, Addresses_GetTheirPrefixesOnlyWhenMissing) {
    EXPECT_EQ(WebAddress(u"example.com/x"), u"http://example.com/x");
    EXPECT_EQ(WebAddress(u"HTTPS://example.com"), u"HTTPS://example.com");
    EXPECT_EQ(WebAddress(u"Http://example.com"), u"Http://example.com");
    EXPECT_EQ(MailAddress(u"a@b.c"), u"mailto:a@b.c");
    EXPECT_EQ(MailAddress(u"MailTo:a@b.c"), u"MailTo:a@b.c");
}

TEST_F(RunCommandTest, Address_OpensWithoutConfirmationAndKeepsItsCommas) {
    EXPECT_EQ(RunShowText(m_host, u"http://example.com/a,b", m_context), TRunOutcome::Done);
    const auto lines = m_host.RecordedLines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("\"kind\":\"open\",\"url\":\"http://example.com/a,b\""),
              std::string::npos);
}

TEST_F(RunCommandTest, OtherSchemes_AreRefusedWithAMessage) {
    for (const char16_t* text :
         {u"file:///etc/passwd", u"javascript:alert(1)", u"smb://host/share"}) {
        std::vector<TRunItem> items;
        std::u16string error;
        EXPECT_EQ(PlanRunText(text, m_context, items, error), TRunOutcome::Failed)
            << ql::ToUtf8(text);
        EXPECT_TRUE(items.empty());
    }
    EXPECT_EQ(RunShowText(m_host, u"file:///etc/passwd", m_context), TRunOutcome::Failed);
    EXPECT_TRUE(m_host.RecordedLines("open").empty());
    EXPECT_EQ(m_host.RecordedLines("message").size(), 1u);
}

TEST_F(RunCommandTest, ProhibitedCommand_RunsNothingAndSaysSoWithoutCaption) {
    EXPECT_EQ(RunShowText(m_host, u"viewer a, cmd.exe /c del *", m_context),
              TRunOutcome::Prohibited);
    const auto lines = m_host.RecordedLines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(
        lines[0],
        "{\"t\":0,\"kind\":\"message\",\"caption\":\"\",\"text\":\"Command line contains "
        "prohibited command "
        "and will not be performed.\",\"icon\":\"warning\",\"buttons\":\"ok\",\"answer\":\"ok\"}");
}

TEST_F(RunCommandTest, ShellsInterpretersAndScripts_AreRefused) {
    MakeFile("innocent", "#!/bin/sh\nrm -rf ~\n", true);
    MakeFile("envscript", "#!/usr/bin/env python3\n", true);
    ASSERT_EQ(::symlink("/bin/sh", m_folder.File("harmless").c_str()), 0);
    for (const char16_t* text : {u"sh -c 'id'", u"/bin/bash x", u"python3 -c 1", u"env x=1 viewer",
                                 u"xargs", u"innocent", u"envscript", u"harmless -c id"}) {
        std::vector<TRunItem> items;
        std::u16string error;
        EXPECT_EQ(PlanRunText(text, m_context, items, error), TRunOutcome::Prohibited)
            << ql::ToUtf8(text);
    }
}

TEST_F(RunCommandTest, Program_FromTheShowFolderWithSplitArguments) {
    std::vector<TRunItem> items;
    std::u16string error;
    ASSERT_EQ(
        PlanRunText(u"viewer \"my picture.png\" -x; rm , \"viewer\"", m_context, items, error),
        TRunOutcome::Done)
        << ql::ToUtf8(error);
    ASSERT_EQ(items.size(), 2u);
    EXPECT_FALSE(items[0].IsUrl);
    EXPECT_EQ(items[0].Argv, (std::vector<std::u16string>{m_folder.WideFile("viewer"),
                                                          u"my picture.png", u"-x;", u"rm"}));
    EXPECT_EQ(items[1].Argv, (std::vector<std::u16string>{m_folder.WideFile("viewer")}));
    // Windows folders in the show's text.
    ASSERT_EQ(PlanRunText(u"..\\Common\\viewer", m_context, items, error), TRunOutcome::Done);
    EXPECT_EQ(items[0].Argv[0], m_folder.WideFile("viewer"));
}

TEST_F(RunCommandTest, Program_MissingOrNotRunnable_FailsWithAMessage) {
    MakeFile("tool.bin", "data", false);
    MakeFile("readme.txt", "text", false);
    std::vector<TRunItem> items;
    std::u16string error;
    EXPECT_EQ(PlanRunText(u"no-such-program-1234 a", m_context, items, error), TRunOutcome::Failed);
    EXPECT_EQ(error, u"Program not found:\rno-such-program-1234");
    EXPECT_EQ(PlanRunText(u"tool.bin", m_context, items, error), TRunOutcome::Failed);
    EXPECT_EQ(PlanRunText(u"  ,  ", m_context, items, error), TRunOutcome::Nothing);
    // A text beside the show is no program but a document for the desktop's opener.
    ASSERT_EQ(PlanRunText(u"readme.txt", m_context, items, error), TRunOutcome::Done);
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items[0].Document, m_folder.WideFile("readme.txt"));
}

TEST_F(RunCommandTest, DocumentFromAnotherShow_OpensOnlyAfterTheUserConfirms) {
    MakeFile("brochure.pdf", "%PDF", false);
    m_context.Policy = {false, false};
    Answer("answer no\nanswer yes\n");
    EXPECT_EQ(RunShowText(m_host, u"brochure.pdf", m_context), TRunOutcome::Declined);
    EXPECT_TRUE(m_host.RecordedLines("open-document").empty());
    EXPECT_EQ(RunShowText(m_host, u"brochure.pdf", m_context), TRunOutcome::Done);
    const auto question = m_host.RecordedLines("message");
    ASSERT_EQ(question.size(), 2u);
    EXPECT_NE(question[0].find("wants to open the document"), std::string::npos) << question[0];
    const auto opened = m_host.RecordedLines("open-document");
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_NE(opened[0].find("\"result\":\"started\""), std::string::npos) << opened[0];
}

TEST_F(RunCommandTest, ShowFromAnotherFile_RunsOnlyAfterTheUserConfirms) {
    m_context.Policy = {false, false};
    Answer("answer no\n");
    EXPECT_EQ(RunShowText(m_host, u"viewer a.png", m_context), TRunOutcome::Declined);
    EXPECT_TRUE(m_host.RecordedLines("run").empty());
    const auto question = m_host.RecordedLines("message");
    ASSERT_EQ(question.size(), 1u);
    EXPECT_NE(question[0].find(ql::ToUtf8(m_folder.WideFile("viewer")) + " a.png"),
              std::string::npos);
    EXPECT_NE(question[0].find("\"buttons\":\"yesno\""), std::string::npos);

    Answer("answer yes\n");
    EXPECT_EQ(RunShowText(m_host, u"viewer a.png", m_context), TRunOutcome::Done);
    EXPECT_EQ(m_host.RecordedLines("run").size(), 1u);
}

TEST_F(RunCommandTest, SelfContainedShowOrAllowRun_RunsWithoutAsking) {
    m_context.Policy = {true, false};
    EXPECT_EQ(RunShowText(m_host, u"viewer", m_context), TRunOutcome::Done);
    m_context.Policy = {false, true};
    EXPECT_EQ(RunShowText(m_host, u"viewer", m_context), TRunOutcome::Done);
    EXPECT_TRUE(m_host.RecordedLines("message").empty());
    EXPECT_EQ(m_host.RecordedLines("run").size(), 2u);
}

}  // namespace
}  // namespace orb
