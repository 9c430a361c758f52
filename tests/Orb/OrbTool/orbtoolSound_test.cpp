#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "ProgramRunner.h"
#include "QlLib/Music/AudioFixtures.h"
#include "TestFolder.h"

namespace {

using ql::test::RunProgram;
using ql::test::ShellQuote;
using ql::test::TTestFolder;

void WriteBytes(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary).write(bytes.data(), std::streamsize(bytes.size()));
}

TEST(OrbtoolSound, WavFile_PrintsInformationAndDecodesTheRange) {
    TTestFolder folder;
    WriteBytes(folder.File("tone.wav"), orbtest::PcmWav(orbtest::Sine(48000, 1, 1.0, 1000), 48000, 1));
    const auto info = RunProgram(folder, ORBTOOL_PATH, "sound " + ShellQuote(folder.File("tone.wav")));
    ASSERT_EQ(info.Code, 0) << info.Err;
    EXPECT_EQ(info.Out, "wav-pcm\t48000\t1\t96000\t1000\n");
    const auto decode = RunProgram(folder, ORBTOOL_PATH,
                                   "sound " + ShellQuote(folder.File("tone.wav")) + " --from 200 --to 700 -o " +
                                       ShellQuote(folder.File("out.wav")));
    ASSERT_EQ(decode.Code, 0) << decode.Err;
    const std::string out = ql::test::ReadTextFile(folder.File("out.wav"));
    ASSERT_EQ(out.size(), 44u + 22050 * 4);
    std::vector<int16_t> pcm((out.size() - 44) / 2);
    std::memcpy(pcm.data(), out.data() + 44, pcm.size() * 2);
    EXPECT_NEAR(orbtest::ZeroCrossingFrequency(pcm, 44100), 1000, 3);
}

TEST(OrbtoolSound, ShowEntry_IsReadThroughThePackage) {
    TTestFolder folder;
    WriteBytes(folder.File("project.orb"), "[Main]\r\nOrbVersion=4.2\r\n");
    WriteBytes(folder.File("tone.wav"), orbtest::PcmWav(orbtest::Sine(22050, 2, 0.5, 440), 22050, 2));
    WriteBytes(folder.File("player"), "player");
    const auto pack = RunProgram(folder, ORBTOOL_PATH,
                                 "pack -o " + ShellQuote(folder.File("show.exe")) + " --player " +
                                     ShellQuote(folder.File("player")) + " " + ShellQuote(folder.File("project.orb")) +
                                     " " + ShellQuote("music/tone.wav=" + folder.File("tone.wav")));
    ASSERT_EQ(pack.Code, 0) << pack.Err;
    const auto info = RunProgram(folder, ORBTOOL_PATH, "sound " + ShellQuote(folder.File("show.exe") + ":music/tone.wav"));
    ASSERT_EQ(info.Code, 0) << info.Err;
    EXPECT_EQ(info.Out, "wav-pcm\t22050\t2\t44100\t500\n");
}

TEST(OrbtoolSound, UnplayableFile_FailsWithAMessage) {
    TTestFolder folder;
    WriteBytes(folder.File("junk.mp3"), std::string(3000, 'j'));
    const auto run = RunProgram(folder, ORBTOOL_PATH, "sound " + ShellQuote(folder.File("junk.mp3")));
    EXPECT_EQ(run.Code, 2);
    EXPECT_NE(run.Err.find("cannot play"), std::string::npos);
}

}  // namespace
