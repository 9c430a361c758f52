// Opening a show for playing: from a player file (with the second try under
// the ".Kelvo" name), from a project document or either, then the checks a
// show must pass before it plays: a playable slide list, the screen-saver
// rules and the password.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "OrbLib2/OrbPackage/qlOrbShowLocator.h"
#include "OrbLib2/OrbViewer/qlOrbPasswordDialog.h"

namespace orb {

enum class TShowFileKind {
    PlayerFile,       // a program file with a package behind it
    ProjectDocument,  // a project document on disk
    Either,           // decided by whether the file holds a package
};

// The name a published show may also carry: the extension becomes ".Kelvo".
std::u16string KelvoName(const std::u16string& fileName);

struct TOpenedShow {
    std::unique_ptr<TOrbShowLocator> Locator;
    std::u16string Error;  // the message box text when Locator is empty
};

// Opens the show's package or project; the error texts name the files tried.
TOpenedShow OpenShowFile(const std::u16string& fileName, TShowFileKind kind);

struct TShowChecks {
    std::u16string ProgramFileName;
    bool ScreenSaverToken = false;  // "/s" or "/S" on the command line
    bool AnotherInstanceRunning = false;
    // Runs the password dialog; null refuses a show that asks for a password.
    TDialogRunner RunDialog;
};

enum class TCheckOutcome { Play, Refused, Error };

struct TCheckResult {
    TCheckOutcome Outcome = TCheckOutcome::Play;
    std::u16string Error;  // with Error: the message box text
};

// Makes the show's source (a show without slides or without any duration is
// an error with the source's message), then applies the screen-saver rules
// and the password check.
TCheckResult CheckShow(TOrbShowLocator& show, const TShowChecks& checks);

}  // namespace orb
