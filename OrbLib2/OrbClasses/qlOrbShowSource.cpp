#include "OrbLib2/OrbClasses/qlOrbShowSource.h"

#include <memory>

#include "OrbLib2/OrbClasses/qlOrbSource2.h"
#include "OrbLib2/OrbPackage/qlOrbShowLocator.h"
#include "QlLib/Platform/qlFileAPI.h"
#include "QlLib/qlIniStorage.h"

namespace orb {

TOrbSource& ShowSource(TOrbShowLocator& show) {
    if (auto* source = dynamic_cast<TOrbSource*>(show.Model())) return *source;
    return ShowSource(show, ql::TFileAPI::ProgramFileName());
}

TOrbSource& ShowSource(TOrbShowLocator& show, const std::u16string& programFileName) {
    if (auto* source = dynamic_cast<TOrbSource*>(show.Model())) return *source;
    auto source = std::make_unique<TOrbSource>(ql::TRef<ql::TRefObj>(&show.Accessor().Source()),
                                               show.Project(), programFileName);
    return static_cast<TOrbSource&>(show.AttachModel(std::move(source)));
}

}  // namespace orb
