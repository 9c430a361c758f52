// Actions: what a click on an object, a key, a dialog or the navigation panel
// asks the player to do, and the reader of an object's "Action" text.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace orb {

// Action codes as the engine and the main form carry them out.
enum TOrbActionCode : uint8_t {
    acNone = 0,
    acExit = 1,
    acPrevSlide = 2,
    acNextSlide = 3,  // also releases a wait
    acHelp = 4,       // opens the "help" dialog
    acPause = 5,      // pause or resume; also releases a wait
    acPrint = 6,
    acGotoSlide = 7,  // Param: the slide number, or -1 with the slide id in Text
    acOpenWebsite = 8,
    acWriteEmail = 9,
    acRunApp = 10,
    acRunAppAndExit = 11,
    acRunPresentation = 12,
    acStop = 13,  // back to the beginning, paused
    acRunPresentationAndReturn = 14,
    acOpenDialog = 15,   // Text: the dialog's name
    acCloseDialog = 16,  // the top dialog
    acSaveSlide = 17,
    acChangePrinter = 18,
    acGotoTime = 19,  // Param: ms
};

struct TOrbActionInfo {
    uint8_t Code = acNone;
    int32_t Param = 0;
    std::u16string Text;

    TOrbActionInfo() = default;
    TOrbActionInfo(uint8_t code, int32_t param = 0, std::u16string text = {})
        : Code(code), Param(param), Text(std::move(text)) {}
    bool IsNone() const { return Code == acNone; }
    bool operator==(const TOrbActionInfo&) const = default;
};

// The action of an object's "Action" text. The command word is matched in any
// case, the argument is kept as written; anything unknown (or empty) is
// acNone. Arguments are the text between "(" and the final ")" with the
// quote after "(" and the one before ")" dropped unchecked ("gotoslide("
// drops only the ")"); a text too short to hold them gives an empty argument.
TOrbActionInfo ParseAction(std::u16string_view text);

}  // namespace orb
