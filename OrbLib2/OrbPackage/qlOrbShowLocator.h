// The show locator: an opened show (a package or a project document on disk)
// bound to the file accessor that the rest of the player opens files through.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "OrbLib2/OrbPackage/qlOrbFileAccessor2.h"
#include "QlLib/SysObj.h"

namespace ql {
class TIniFile;
}

namespace orb {

inline constexpr char16_t kExecutableOpenErrorText[] = u"Executable SlideShow Open Error";

class TOrbShowLocator : public ql::TObj {
public:
    // Reads and parses the named document through the accessor; nothing when
    // it is absent or does not parse. A mapped source (a package's included)
    // takes the document's [FileMap] and [RotationState] tables.
    static std::unique_ptr<TOrbShowLocator> Create(std::unique_ptr<TFileAccessor> accessor,
                                                   const std::u16string& projectName);
    // The same with an accessor that the caller keeps.
    static std::unique_ptr<TOrbShowLocator> Create(TFileAccessor& accessor,
                                                   const std::u16string& projectName);
    ~TOrbShowLocator() override;

    TFileAccessor& Accessor() const { return *m_accessor; }
    ql::TIniFile& Project() const { return *m_project; }
    const std::u16string& ProjectName() const { return m_projectName; }
    // The [Main] OrbVersion value of the project.
    const std::u16string& OrbVersion() const { return m_orbVersion; }
    // The show model that the layers above read from the project (its
    // options and slide list); null until one is attached. The locator owns it
    // so that it lives exactly as long as the show.
    ql::TObj* Model() const { return m_model.get(); }
    ql::TObj& AttachModel(std::unique_ptr<ql::TObj> model);

private:
    TOrbShowLocator() = default;
    static std::unique_ptr<TOrbShowLocator> Build(std::unique_ptr<TFileAccessor> owned,
                                                  TFileAccessor& accessor,
                                                  const std::u16string& projectName);

    std::unique_ptr<TFileAccessor> m_ownedAccessor;
    TFileAccessor* m_accessor = nullptr;
    std::unique_ptr<ql::TIniFile> m_project;
    std::u16string m_projectName;
    std::u16string m_orbVersion;
    // Declared last: it reads the project document, so it goes first.
    std::unique_ptr<ql::TObj> m_model;
};

// The raw lines of a section, comments included; empty when it is missing.
std::vector<std::u16string> SectionLines(ql::TIniFile& document, const std::u16string& section);

struct TShowOpenResult {
    std::unique_ptr<TOrbShowLocator> Locator;
    std::u16string Error;  // the message for the user when Locator is empty
};

// The file that holds the package: for a ".app" folder its
// Contents/Resources/slideshow.dat when that exists, else the name itself.
std::u16string ResolvePackageFile(const std::u16string& fileName);

// Opens the package of a player file. Errors: "Slideshow File not Found",
// "Slide-show File Damaged", "Executable SlideShow Open Error".
TShowOpenResult OpenShowFromPlayerFile(const std::u16string& fileName);
// Opens a project document from disk; nothing when it is missing or does not
// parse.
std::unique_ptr<TOrbShowLocator> OpenShowFromProject(const std::u16string& fileName);
// Either of the two: a file that holds a package is a player file, any other
// is read as a project document.
TShowOpenResult OpenShow(const std::u16string& fileName);
// The package's orbversion text; nothing when the file holds no package.
std::optional<std::u16string> ReadPackageVersion(const std::u16string& fileName);

// When a player file named `playerName` (compared without case) is opened,
// the project document `projectName` is opened from disk instead. An empty
// project name switches this off.
void SetProjectReplacement(const std::u16string& playerName, const std::u16string& projectName);

// Installed on the accessor of each show opened while the start-up switch is
// on; the start-up window provides it.
using TStartupFilterInstaller =
    std::function<void(TFileAccessor& accessor, const std::u16string& projectName)>;
void SetStartupFilter(bool startupSwitch, TStartupFilterInstaller installer);

// The current show and the shows it was opened from. The main form keeps one
// for the shows it plays; it frees them when it goes.
class TShowStack {
public:
    TShowStack();
    ~TShowStack();
    TShowStack(const TShowStack&) = delete;
    TShowStack& operator=(const TShowStack&) = delete;

    // nullptr when no show is current.
    TOrbShowLocator* Current() const;
    // Replaces the current show, freeing the one before.
    void SetCurrent(std::unique_ptr<TOrbShowLocator> locator);
    // Keeps the current show on the stack and makes `locator` current.
    void Push(std::unique_ptr<TOrbShowLocator> locator);
    // Frees the current show and makes the top of the stack current. False
    // when the stack was empty (no show is current then).
    bool Pop();
    size_t Depth() const;

private:
    mutable std::mutex m_lock;
    std::unique_ptr<TOrbShowLocator> m_current;             // under m_lock
    std::vector<std::unique_ptr<TOrbShowLocator>> m_stack;  // under m_lock
};

}  // namespace orb
