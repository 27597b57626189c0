// The dataset model's own fixed English messages (the database and session
// texts are in engine/database_error.h). A %s takes the field, parameter or
// dataset name; every one is raised as EDatabaseError through
// RaiseDatabaseError.
#pragma once

namespace engine {

inline constexpr char kMsgNotEditing[] = "Dataset not in edit or insert mode";
inline constexpr char kMsgFieldReadOnly[] = "Field '%s' cannot be modified";
inline constexpr char kMsgFieldNotIndexed[] = "Field '%s' is not indexed and cannot be modified";
inline constexpr char kMsgParameterNotFound[] = "Parameter '%s' not found";
inline constexpr char kMsgDataSetOpen[] = "Cannot perform this operation on an open dataset";
inline constexpr char kMsgDataSetClosed[] = "Cannot perform this operation on a closed dataset";
inline constexpr char kMsgFieldNotFound[] = "Field '%s' not found";
inline constexpr char kMsgNotBrowsing[] = "Dataset not in browse mode";
inline constexpr char kMsgNoRecord[] = "No current record";

}  // namespace engine
