// The vendor actions Samsung's players call on the ContentDirectory while they browse: a TV
// that gets a fault for X_GetFeatureList shows no files, and X_SetBookmark keeps where it
// stopped in a film. Neither is described in the SCPD: the TVs call them without looking.
// Errors: InvalidArgs for a bookmark without ObjectID or a PosSecond that is no ui4.
// Thread safety: as the actions of services.h.
#pragma once
#include "dlna/services.h"

namespace tovi::dlna {

// FeatureList: the samsung.com_BASICVIEW feature, naming the root as the container of videos,
// music and pictures (the TV's views of each start there).
SoapArguments GetFeatureList(const ActionCall& call);

// Keeps PosSecond for ObjectID (CategoryType and RID, also sent, name the TV's own list).
// No out arguments.
SoapArguments SetBookmark(const ActionCall& call);

}  // namespace tovi::dlna
