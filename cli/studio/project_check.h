// What a project must hold to be saved or made: each field the page and the disc job
// read, of the kind they read it as. A project file edited by hand, or by another
// version, may not.
#pragma once

#include <string>
#include <vector>

#include "cli/studio/studio_json.h"

namespace trackloom::cli::studio {

// The first field of project of the wrong kind, as the page names it ("videos", "video
// 2: fit"), with the kind it must be; "" when every field is right.
std::string MistypedField(const Json& project);

// project with every field of the wrong kind left out (a video without a path too), and
// what was left out in *dropped. Fields the studio does not know are kept as they are.
Json ReadableProject(const Json& project, std::vector<std::string>* dropped);

// The first value of project that the commands would refuse, in the page's words,
// with the field it belongs to ("name", "output", "video 2: every"): checked when the
// project is saved, before anything is encoded. An empty message when every value
// will do.
struct ValueProblem {
  std::string field;
  std::string message;
};
ValueProblem FirstBadValue(const Json& project);

// Why a disc cannot begin with the first track at path (not a CD-audio WAV, not
// there), as the disc command says it; empty when it can, or when path is empty.
std::string FirstTrackProblem(const std::string& path);

}  // namespace trackloom::cli::studio
