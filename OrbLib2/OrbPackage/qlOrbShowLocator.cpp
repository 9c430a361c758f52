#include "OrbLib2/OrbPackage/qlOrbShowLocator.h"

#include <algorithm>
#include <mutex>

#include "OrbLib2/OrbPackage/qlOrbPackFormat.h"
#include "OrbLib2/OrbPackage/qlOrbUnpack.h"
#include "QlLib/Platform/qlFileAPI.h"
#include "QlLib/Platform/qlSystemAPI.h"
#include "QlLib/qlIniStorage.h"
#include "QlLib/qpExceptions.h"
#include "QlLib/qpStringUtils.h"

namespace orb {

namespace {
std::mutex g_settingsLock;
std::u16string g_replacedPlayer;  // under g_settingsLock
std::u16string g_replacementProject;
bool g_startupSwitch = false;
TStartupFilterInstaller g_startupInstaller;

void InstallStartupFilter(TFileAccessor& accessor, const std::u16string& projectName) {
    TStartupFilterInstaller installer;
    {
        std::lock_guard<std::mutex> guard(g_settingsLock);
        if (!g_startupSwitch) return;
        installer = g_startupInstaller;
    }
    if (installer) installer(accessor, projectName);
}

bool EndsWithIgnoringCase(const std::u16string& text, std::u16string_view tail) {
    return text.size() >= tail.size() &&
           ql::SameTextIgnoringCase(std::u16string_view(text).substr(text.size() - tail.size()),
                                    tail);
}
}  // namespace

// ---- TOrbShowLocator ----

TOrbShowLocator::~TOrbShowLocator() = default;

ql::TObj& TOrbShowLocator::AttachModel(std::unique_ptr<ql::TObj> model) {
    m_model = std::move(model);
    return *m_model;
}

std::unique_ptr<TOrbShowLocator> TOrbShowLocator::Create(std::unique_ptr<TFileAccessor> accessor,
                                                         const std::u16string& projectName) {
    TFileAccessor& ref = *accessor;
    return Build(std::move(accessor), ref, projectName);
}

std::unique_ptr<TOrbShowLocator> TOrbShowLocator::Create(TFileAccessor& accessor,
                                                         const std::u16string& projectName) {
    return Build(nullptr, accessor, projectName);
}

std::unique_ptr<TOrbShowLocator> TOrbShowLocator::Build(std::unique_ptr<TFileAccessor> owned,
                                                        TFileAccessor& accessor,
                                                        const std::u16string& projectName) {
    auto document = std::make_unique<ql::TIniFile>();
    try {
        std::unique_ptr<ql::TStream> stream = accessor.OpenStream(projectName);
        if (!stream || !document->LoadFromStream(*stream)) return nullptr;
    } catch (const ql::Exception&) {
        return nullptr;
    }
    std::unique_ptr<TOrbShowLocator> locator(new TOrbShowLocator);
    locator->m_orbVersion = document->ReadString(u"Main", u"OrbVersion", u"");
    if (auto* mapped = dynamic_cast<TMappedFileSource*>(&accessor.Source())) {
        mapped->LoadFileMap(SectionLines(*document, u"FileMap"));
        mapped->LoadRotationState(SectionLines(*document, u"RotationState"));
    }
    locator->m_project = std::move(document);
    locator->m_projectName = projectName;
    locator->m_ownedAccessor = std::move(owned);
    locator->m_accessor = &accessor;
    return locator;
}

std::vector<std::u16string> SectionLines(ql::TIniFile& document, const std::u16string& section) {
    std::vector<std::u16string> lines;
    ql::TIniSection* found = document.FindSection(section);
    if (!found) return lines;
    // A repeated section header continues the same table.
    while (found->EarlierTwin()) found = found->EarlierTwin();
    for (; found; found = found->LaterTwin()) {
        for (ql::TCommonIniItem* item = found->First(); item; item = item->Next()) {
            if (auto* line = dynamic_cast<ql::TIniEmptyLine*>(item))
                lines.emplace_back(line->Text());
        }
    }
    return lines;
}

// ---- opening shows ----

std::u16string ResolvePackageFile(const std::u16string& fileName) {
    if (EndsWithIgnoringCase(fileName, u".app")) {
        std::u16string folder = fileName;
        while (!folder.empty() && folder.back() == u'/') folder.pop_back();
        const std::u16string inside = folder + u"/Contents/Resources/slideshow.dat";
        if (ql::TFileAPI::FileExists(inside)) return inside;
    }
    return fileName;
}

std::unique_ptr<TOrbShowLocator> OpenShowFromProject(const std::u16string& fileName) {
    auto accessor = std::make_unique<TFileAccessor>(ql::MakeRef<TMappedFileSource>());
    InstallStartupFilter(*accessor, fileName);
    // Names of the show that are not found resolve against the project's own
    // folder unless the folder it is to be published to exists.
    const std::u16string projectFolder = ql::platform::FolderOf(FindPlainFile(fileName));
    accessor->SetBaseFolder(projectFolder);
    std::unique_ptr<TOrbShowLocator> locator =
        TOrbShowLocator::Create(std::move(accessor), fileName);
    if (!locator) return nullptr;
    std::u16string exeName = locator->Project().ReadString(u"Main", u"opt_exefn", u"");
    if (!exeName.empty()) {
        std::replace(exeName.begin(), exeName.end(), u'\\', u'/');
        // A relative published name lies beside the project, not in whatever
        // folder the player was started from.
        if (exeName[0] != u'/') exeName = projectFolder + u"/" + exeName;
        const auto folder = ql::platform::FindPathIgnoringCase(ql::platform::FolderOf(exeName));
        if (folder && ql::TFileAPI::DirectoryExists(*folder))
            locator->Accessor().SetBaseFolder(*folder);
    }
    return locator;
}

namespace {
TShowOpenResult OpenPackage(std::unique_ptr<TOrbUnpack> unpack, const std::u16string& fileName) {
    TShowOpenResult result;
    auto accessor =
        std::make_unique<TFileAccessor>(ql::MakeRef<TPackedFileSource>(std::move(unpack)));
    accessor->SetBaseFolder(ql::platform::FolderOf(fileName));
    InstallStartupFilter(*accessor, kProjectEntry);
    result.Locator = TOrbShowLocator::Create(std::move(accessor), kProjectEntry);
    if (!result.Locator) result.Error = kExecutableOpenErrorText;
    return result;
}

// The replacement pair, when it applies to this player file.
std::optional<std::u16string> ReplacementProject(const std::u16string& fileName) {
    std::lock_guard<std::mutex> guard(g_settingsLock);
    if (g_replacementProject.empty() || !ql::SameTextIgnoringCase(fileName, g_replacedPlayer)) {
        return std::nullopt;
    }
    return g_replacementProject;
}

TShowOpenResult FromProject(const std::u16string& projectName) {
    TShowOpenResult result;
    result.Locator = OpenShowFromProject(projectName);
    if (!result.Locator) {
        result.Error = FindPlainFile(projectName).empty() ? kFileNotFoundText : kFileDamagedText;
    }
    return result;
}
}  // namespace

TShowOpenResult OpenShowFromPlayerFile(const std::u16string& fileName) {
    if (auto project = ReplacementProject(fileName)) return FromProject(*project);
    auto unpack = std::make_unique<TOrbUnpack>();
    const TUnpackResult opened = unpack->Open(ResolvePackageFile(fileName));
    if (opened != TUnpackResult::Ok) {
        TShowOpenResult result;
        result.Error = opened == TUnpackResult::FileNotFound ? kFileNotFoundText : kFileDamagedText;
        return result;
    }
    return OpenPackage(std::move(unpack), fileName);
}

TShowOpenResult OpenShow(const std::u16string& fileName) {
    if (auto project = ReplacementProject(fileName)) return FromProject(*project);
    auto unpack = std::make_unique<TOrbUnpack>();
    switch (unpack->Open(ResolvePackageFile(fileName))) {
        case TUnpackResult::Ok:
            return OpenPackage(std::move(unpack), fileName);
        case TUnpackResult::NoPackage:
            return FromProject(fileName);
        case TUnpackResult::FileNotFound: {
            // A show written with Windows names may still be found on disk.
            if (!FindPlainFile(fileName).empty()) return FromProject(fileName);
            TShowOpenResult result;
            result.Error = kFileNotFoundText;
            return result;
        }
        default: {
            TShowOpenResult result;
            result.Error = kFileDamagedText;
            return result;
        }
    }
}

std::optional<std::u16string> ReadPackageVersion(const std::u16string& fileName) {
    TOrbUnpack unpack;
    if (unpack.Open(ResolvePackageFile(fileName)) != TUnpackResult::Ok) return std::nullopt;
    return unpack.OrbVersion();
}

void SetProjectReplacement(const std::u16string& playerName, const std::u16string& projectName) {
    std::lock_guard<std::mutex> guard(g_settingsLock);
    g_replacedPlayer = playerName;
    g_replacementProject = projectName;
}

void SetStartupFilter(bool startupSwitch, TStartupFilterInstaller installer) {
    std::lock_guard<std::mutex> guard(g_settingsLock);
    g_startupSwitch = startupSwitch;
    g_startupInstaller = std::move(installer);
}

// ---- the current show ----

TShowStack::TShowStack() = default;

TShowStack::~TShowStack() {
    // The current show goes first, then the ones it was opened from.
    m_current.reset();
    while (!m_stack.empty()) m_stack.pop_back();
}

TOrbShowLocator* TShowStack::Current() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_current.get();
}

void TShowStack::SetCurrent(std::unique_ptr<TOrbShowLocator> locator) {
    // The previous show is freed after the lock is left.
    std::unique_ptr<TOrbShowLocator> previous;
    std::lock_guard<std::mutex> guard(m_lock);
    previous = std::exchange(m_current, std::move(locator));
}

void TShowStack::Push(std::unique_ptr<TOrbShowLocator> locator) {
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_current) m_stack.push_back(std::move(m_current));
    m_current = std::move(locator);
}

bool TShowStack::Pop() {
    std::unique_ptr<TOrbShowLocator> finished;
    std::lock_guard<std::mutex> guard(m_lock);
    finished = std::move(m_current);
    if (m_stack.empty()) return false;
    m_current = std::move(m_stack.back());
    m_stack.pop_back();
    return true;
}

size_t TShowStack::Depth() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_stack.size();
}

}  // namespace orb
