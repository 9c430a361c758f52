// The subcommands of orbtool. Each takes the arguments after its name and
// returns the exit code.
#pragma once

#include <string>
#include <vector>

namespace orb::tool {

using TArgs = std::vector<std::string>;

int RunPack(const TArgs& args);
int RunLs(const TArgs& args);
int RunCat(const TArgs& args);

}  // namespace orb::tool
