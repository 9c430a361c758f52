// Composite music descriptions live with the music library, whose output
// recognises them and mixes them; the viewer compiles them under these names.
#pragma once

#include "QlLib/Music/CompositeParams.h"

namespace orb {

using ql::IsCompositeName;
using ql::kCompositeMarker;
using ql::kCompositeMarkerLength;
using ql::kMaxCompositeItems;
using ql::kMaxConcatenatedComposites;
using ql::kMaxEnvelopePoints;
using ql::kMaxEnvelopesPerItem;
using ql::TCompositeItem;
using ql::TCompositeItem2;
using ql::TCompositeParams;
using ql::TCompositeParams2;
using ql::TVolumeItem;
using ql::TVolumeParams;
using ql::TVolumeParamsList;

}  // namespace orb
