#include "OrbLib2/OrbClasses/qlOrbActionInfo.h"

#include <gtest/gtest.h>

namespace orb {
namespace {

TEST(ObjectAction, PlainCommandsMatchInAnyCase) {
    EXPECT_EQ(ParseAction(u"exit"), TOrbActionInfo(acExit));
    EXPECT_EQ(ParseAction(u"NextSlide"), TOrbActionInfo(acNextSlide));
    EXPECT_EQ(ParseAction(u"PREVSLIDE"), TOrbActionInfo(acPrevSlide));
    EXPECT_EQ(ParseAction(u"help"), TOrbActionInfo(acHelp));
    EXPECT_EQ(ParseAction(u"gotofirstslide"), TOrbActionInfo(acGotoSlide, 0));
    EXPECT_EQ(ParseAction(u"Pause"), TOrbActionInfo(acPause));
    EXPECT_EQ(ParseAction(u"print"), TOrbActionInfo(acPrint));
    EXPECT_EQ(ParseAction(u"stop"), TOrbActionInfo(acStop));
    EXPECT_EQ(ParseAction(u"closedialog"), TOrbActionInfo(acCloseDialog));
    EXPECT_EQ(ParseAction(u"saveslide"), TOrbActionInfo(acSaveSlide));
    EXPECT_EQ(ParseAction(u"changeprinter"), TOrbActionInfo(acChangePrinter));
}

TEST(ObjectAction, UnknownOrEmptyTextIsNone) {
    EXPECT_TRUE(ParseAction(u"").IsNone());
    EXPECT_TRUE(ParseAction(u"jump").IsNone());
    EXPECT_TRUE(ParseAction(u"exit now").IsNone());
    EXPECT_TRUE(ParseAction(u"gotoslide").IsNone());
}

TEST(ObjectAction, GotoSlideTakesANumberOrASlideId) {
    EXPECT_EQ(ParseAction(u"gotoslide(3)"), TOrbActionInfo(acGotoSlide, 3));
    EXPECT_EQ(ParseAction(u"GotoSlide(-2)"), TOrbActionInfo(acGotoSlide, -2));
    EXPECT_EQ(ParseAction(u"gotoslide(intro)"), TOrbActionInfo(acGotoSlide, -1, u"intro"));
    // The argument is kept as written, only the command word ignores case.
    EXPECT_EQ(ParseAction(u"GOTOSLIDE(Intro)"), TOrbActionInfo(acGotoSlide, -1, u"Intro"));
}

TEST(ObjectAction, QuotedArgumentsLoseTheirQuotes) {
    EXPECT_EQ(ParseAction(u"openwebsite(\"http://x\")"), TOrbActionInfo(acOpenWebsite, 0, u"http://x"));
    EXPECT_EQ(ParseAction(u"writeemail(\"a@b.c\")"), TOrbActionInfo(acWriteEmail, 0, u"a@b.c"));
    EXPECT_EQ(ParseAction(u"runapp(\"C:\\x.exe\")"), TOrbActionInfo(acRunApp, 0, u"C:\\x.exe"));
    EXPECT_EQ(ParseAction(u"RunAppAndExit(\"y\")"), TOrbActionInfo(acRunAppAndExit, 0, u"y"));
    EXPECT_EQ(ParseAction(u"runpresentation(\"b.exe\")"), TOrbActionInfo(acRunPresentation, 0, u"b.exe"));
    EXPECT_EQ(ParseAction(u"runpresentationandreturn(\"b.exe\")"),
              TOrbActionInfo(acRunPresentationAndReturn, 0, u"b.exe"));
    EXPECT_EQ(ParseAction(u"opendialog(\"Menu\")"), TOrbActionInfo(acOpenDialog, 0, u"Menu"));
}

TEST(ObjectAction, TheTwoDroppedCharactersAreNotChecked) {
    EXPECT_EQ(ParseAction(u"openwebsite(xhttp://xyz"), TOrbActionInfo(acOpenWebsite, 0, u"http://x"));
}

TEST(ObjectAction, TextsTooShortForTheirArgumentGiveAnEmptyOne) {
    EXPECT_EQ(ParseAction(u"openwebsite("), TOrbActionInfo(acOpenWebsite, 0, u""));
    EXPECT_EQ(ParseAction(u"openwebsite(\""), TOrbActionInfo(acOpenWebsite, 0, u""));
    EXPECT_EQ(ParseAction(u"openwebsite(\")"), TOrbActionInfo(acOpenWebsite, 0, u""));
    EXPECT_EQ(ParseAction(u"opendialog(\"\")"), TOrbActionInfo(acOpenDialog, 0, u""));
    EXPECT_EQ(ParseAction(u"gotoslide("), TOrbActionInfo(acGotoSlide, -1, u""));
    EXPECT_EQ(ParseAction(u"gotoslide()"), TOrbActionInfo(acGotoSlide, -1, u""));
}

}  // namespace
}  // namespace orb
