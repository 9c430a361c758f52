#include "Orb/OrbViewer/OrbStartupWindow.h"

#include <algorithm>

#include "OrbLib2/OrbClasses/qlOrbShowOptions.h"
#include "OrbLib2/OrbPackage/qlOrbFileAccessor2.h"
#include "QlLib/qlLog.h"
#include "QlLib/qpFileStream.h"
#include "QlLib/qpStringUtils.h"

namespace orb {

namespace {

// Project documents are read through streams of at most this size; anything
// larger is left alone rather than parsed twice.
constexpr int64_t kMaxProjectBytes = int64_t(64) << 20;

void CopySection(const ql::TIniSection& section, ql::TIniFile& target,
                 std::u16string_view newName = {}) {
    ql::TCommonIniItem& copy = section.CopyTo(target);
    if (!newName.empty()) static_cast<ql::TIniSection&>(copy).Rename(newName);
}

void RemoveFirstKey(ql::TIniSection& section, std::u16string_view key) {
    if (ql::TIniIdent* ident = section.FindIdent(key)) ident->Free();
}

}  // namespace

std::unique_ptr<ql::TIniFile> StartupWindowProject(const ql::TIniStorage& show) {
    const ql::TIniSection* page = show.FindSection(u"dialog_startup");
    const ql::TIniSection* main = show.FindSection(u"main");
    const ql::TIniSection* fileMap = show.FindSection(u"FileMap");
    if (!page || !main || !fileMap) return nullptr;

    auto document = std::make_unique<ql::TIniFile>();
    CopySection(*fileMap, *document);
    CopySection(*page, *document, u"slide1");
    CopySection(*main, *document);
    ql::TIniSection& settings = *document->FindSection(u"main");
    const TOrbShowOptions options = ReadShowOptions(*main);
    const std::u16string width = ql::IntToStr(options.StartupWidth);
    const std::u16string height = ql::IntToStr(options.StartupHeight);
    const std::u16string caption = main->ReadString(u"stw_caption", u"Startup Window");
    // The page keeps F1 locked unless the show unlocked it.
    const bool lockF1 = options.LockF1.value_or(true);
    const std::pair<const char16_t*, std::u16string> changes[] = {
        {u"opt_fcp", u"0"},
        {u"opt_repeat", u"stop"},
        {u"opt_scr_full", u"0"},
        {u"opt_scr_fullfixedsize", u"0"},
        {u"opt_scr_width", width},
        {u"opt_scr_height", height},
        {u"opt_scr_caption", caption},
        {u"opt_hidecursor", u"0"},
        {u"opt_synch_count", u"0"},
        {u"opt_synchpos1", u"1000"},
        {u"opt_synch_pointscount", u"1"},
        {u"opt_slidescount", u"1"},
        {u"opt_fx_enable", u"0"},
        {u"opt_fx_neweffectscount", u"0"},
        {u"opt_runapponexit", u"0"},
        {u"opt_runapponexitiflastslide", u"1"},
        {u"opt_runapponexitfn", u""},
        {u"opt_usepass", u"0"},
        {u"opt_logo", u"0"},
        {u"opt_lockf1", lockF1 ? u"1" : u"0"},
    };
    for (const auto& [key, value] : changes) settings.WriteString(key, value);
    RemoveFirstKey(settings, u"music");

    if (const ql::TIniSection* help = show.FindSection(u"dialog_help"))
        CopySection(*help, *document);
    for (int32_t i = 1; i <= options.CustomDialogCount; ++i) {
        const std::u16string name = u"dialog_" + ql::IntToStr(i) + u"_";
        if (const ql::TIniSection* dialog = show.FindSection(name)) CopySection(*dialog, *document);
    }
    return document;
}

void InstallStartupWindowFilter(TFileAccessor& accessor, const std::u16string& projectName) {
    accessor.SetStreamFilter(
        [projectName](const std::u16string& name,
                      std::unique_ptr<ql::TStream> stream) -> std::unique_ptr<ql::TStream> {
            if (!stream || !ql::SameTextIgnoringCase(name, projectName) ||
                stream->GetSize() > kMaxProjectBytes)
                return stream;
            const int64_t start = stream->GetPosition();
            ql::TIniFile show;
            std::unique_ptr<ql::TIniFile> page;
            if (show.LoadFromStream(*stream)) page = StartupWindowProject(show);
            if (!page) {
                stream->SetPosition(start);
                return stream;
            }
            ql::GlobalLog().WriteLine(u"Startup window: " + name);
            auto rewritten = std::make_unique<ql::TMemoryStream>();
            page->SaveToStream(*rewritten);
            rewritten->SetPosition(0);
            return rewritten;
        });
}

}  // namespace orb
