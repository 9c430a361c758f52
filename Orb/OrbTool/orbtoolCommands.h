// The subcommands of orbtool. Each takes the arguments after its name and
// returns the process exit code: 0 done, 1 not found, 2 error or bad usage.
#pragma once

#include <string>
#include <vector>

namespace orb {

// ini FILE | ini FILE SECTION KEY | ini --save FILE
int RunIni(const std::vector<std::string>& args);

// pack -o OUT [--player FILE] [--method 0|1|2] [--old-trailer] [--orbversion TEXT]
//      PROJECT [NAME=PATH | PATH]...
int RunPack(const std::vector<std::string>& args);
// ls SHOW
int RunLs(const std::vector<std::string>& args);
// cat SHOW NAME
int RunCat(const std::vector<std::string>& args);

// timeline SHOW [--seed N]
int RunTimeline(const std::vector<std::string>& args);
// at SHOW TIME [--seed N]
int RunAt(const std::vector<std::string>& args);
// decode IMAGE [--level N] [--orientation 1|3|6|8] [-o OUT.png]
int RunDecode(const std::vector<std::string>& args);
// sound FILE|SHOW:NAME [--from MS] [--to MS] [-o OUT.wav]
int RunSound(const std::vector<std::string>& args);
// audio SHOW [--from MS] [--to MS] -o OUT.wav
int RunAudio(const std::vector<std::string>& args);
// composite FILE [--show SHOW] [--from MS] [--to MS] -o OUT.wav
// composite --compile SHOW [--slide N] [--seed N]
int RunComposite(const std::vector<std::string>& args);

// video FILE|SHOW:NAME [--frame N | --time MS [--loop]] [-o OUT.png]
//       [--frames N,N,... [--trace]] [--threads N]
int RunVideo(const std::vector<std::string>& args);

// text TEXT [--font NAME] [--size PX] [--bold] [--italic] [--color AARRGGBB]
//      [--shadow BLUR,OFFSETX,OFFSETY,OPACITY] -o OUT.png
int RunText(const std::vector<std::string>& args);
// button THEME|SHOW:FOLDER --width W [--state normal|hover|click] [--hsl H,S,L] -o OUT.png
int RunButton(const std::vector<std::string>& args);
// navbar BARFILE --width W [--height H] [--duration MS] [--time MS] [--volume V]
//        [--paused] [--buttons NAME,...] [--hue DEG] [--no-background] -o OUT.png
int RunNavbar(const std::vector<std::string>& args);
// overlay SHOW [--size WxH] [--device soft|gl] --script FILE [-o DIR]
int RunOverlay(const std::vector<std::string>& args);
// mask ellipse|roundrect --size WxH [--softness N] [--corner N] -o OUT.png
int RunMask(const std::vector<std::string>& args);

// draw-test --device soft|gl --size WxH -o OUT.png
int RunDrawTest(const std::vector<std::string>& args);
// effect --class C --type T [--size WxH] [--progress P] [--device soft|gl]
//        [--param KEY=VALUE]... [--strip N] -o OUT.png
int RunEffect(const std::vector<std::string>& args);

// objects SHOW --time T [--size WxH] [--seed N] [--cover]
int RunObjects(const std::vector<std::string>& args);
// hit SHOW --time T --at X,Y [--size WxH] [--seed N] [--cover]
int RunHit(const std::vector<std::string>& args);
// frame SHOW --time T [--size WxH] [--device soft|gl] [--seed N] [--cover] -o OUT.png
int RunFrame(const std::vector<std::string>& args);

// macros SHOW --slide N [--seed N] TEXT
int RunMacros(const std::vector<std::string>& args);

// render SHOW [--size WxH] [--fps N] [--from MS] [--to MS] [--device soft|gl] -o OUT
int RunRender(const std::vector<std::string>& args);

}  // namespace orb
