#include "Orb/OrbViewer/OrbShowOpener.h"

#include "OrbLib2/OrbClasses/qlOrbShowSource.h"
#include "OrbLib2/OrbClasses/qlOrbSource2.h"
#include "QlLib/Platform/qlFileAPI.h"
#include "QlLib/qlIniStorage.h"
#include "QlLib/qpExceptions.h"
#include "QlLib/qpStringUtils.h"

namespace orb {

std::u16string KelvoName(const std::u16string& fileName) {
    const auto slash = fileName.find_last_of(u'/');
    const auto dot = fileName.find_last_of(u'.');
    const bool hasExtension =
        dot != std::u16string::npos && (slash == std::u16string::npos || dot > slash);
    return (hasExtension ? fileName.substr(0, dot) : fileName) + u".Kelvo";
}

TOpenedShow OpenShowFile(const std::u16string& fileName, TShowFileKind kind) {
    TOpenedShow opened;
    if (kind == TShowFileKind::ProjectDocument) {
        opened.Locator = OpenShowFromProject(fileName);
        if (!opened.Locator) opened.Error = u"Can`t Load .orb File\r\"" + fileName + u"\"";
        return opened;
    }
    if (kind == TShowFileKind::Either)
        kind = ReadPackageVersion(fileName) ? TShowFileKind::PlayerFile
                                            : TShowFileKind::ProjectDocument;
    // A bare name that is neither a package nor a document reads as a package
    // so that its error says what was looked for.
    if (kind == TShowFileKind::ProjectDocument) {
        opened.Locator = OpenShowFromProject(fileName);
        if (opened.Locator) return opened;
        if (ql::TFileAPI::FileExists(fileName)) {
            opened.Error = u"Can`t Load .orb File\r\"" + fileName + u"\"";
            return opened;
        }
    }
    TShowOpenResult result = OpenShowFromPlayerFile(fileName);
    if (!result.Locator) {
        const std::u16string other = KelvoName(fileName);
        TShowOpenResult second = OpenShowFromPlayerFile(other);
        if (second.Locator) {
            result = std::move(second);
        } else {
            const std::u16string error = result.Error.empty() ? u"Can`t Load Show" : result.Error;
            opened.Error = error + u"\r\"" + fileName + u"\" or \"" + other + u"\"";
            return opened;
        }
    }
    opened.Locator = std::move(result.Locator);
    return opened;
}

TCheckResult CheckShow(TOrbShowLocator& show, const TShowChecks& checks) {
    TCheckResult result;
    TOrbSource* source = nullptr;
    try {
        source = &ShowSource(show, checks.ProgramFileName);
    } catch (const ql::Exception& error) {
        result.Outcome = TCheckOutcome::Error;
        result.Error = ql::FromUtf8(error.what());
        return result;
    }
    // A screen saver runs only when the system starts it ("/s") and only once.
    if (source->ScreenSaverMode() && (checks.AnotherInstanceRunning || !checks.ScreenSaverToken)) {
        result.Outcome = TCheckOutcome::Refused;
        return result;
    }
    if (!CheckShowAccess(show.Project(), checks.RunDialog)) result.Outcome = TCheckOutcome::Refused;
    return result;
}

}  // namespace orb
