#pragma once

// The control ids of the windows, as their dialog templates number them. Each control's object
// name is its id, so tests and scripts find a control by the number the operator's manual uses.
namespace torvane::controls {

inline constexpr const char* kOk = "1";
inline constexpr const char* kCancel = "2";

namespace activity {
inline constexpr const char* kHide = "3";
inline constexpr const char* kDetectionList = "1003";
inline constexpr const char* kExit = "1004";
inline constexpr const char* kHint = "1005";
inline constexpr const char* kHintIcon = "1006";
inline constexpr const char* kLogList = "1007";
inline constexpr const char* kFlow = "1009";
inline constexpr const char* kClearDetections = "1011";
inline constexpr const char* kClearLog = "1012";
inline constexpr const char* kSummaryList = "1013";
inline constexpr const char* kConfigure = "1014";
inline constexpr const char* kClearSummary = "1015";
inline constexpr const char* kInsert = "1018";
inline constexpr const char* kLevelBox = "1020";
inline constexpr const char* kLevelLabel = "1021";
inline constexpr const char* kVersion = "1023";
inline constexpr const char* kDayOffsetLabel = "1223";
inline constexpr const char* kDayOffsetIcon = "1224";
// Added since the templates were numbered: named, not numbered.
inline constexpr const char* kJournal = "journal";
}  // namespace activity

namespace config {
inline constexpr const char* kMyLapsPort = "1000";
inline constexpr const char* kHost = "1001";
inline constexpr const char* kHostPort = "1002";
inline constexpr const char* kOpenAtStartup = "1003";
inline constexpr const char* kHaltedAtStartup = "1010";
inline constexpr const char* kDagWanted = "1011";
inline constexpr const char* kAlsoTransmit = "1012";
inline constexpr const char* kDaysToAdd = "1131";
inline constexpr const char* kReloadChipTable = "1249";
inline constexpr const char* kIgnoreUnknown = "1253";
}  // namespace config

namespace manual {
inline constexpr const char* kBib = "1081";
inline constexpr const char* kInsertTime = "1082";
inline constexpr const char* kDetectors = "1083";
inline constexpr const char* kDayOffsets = "1131";
inline constexpr const char* kDayOffsetLabel = "1223";
inline constexpr const char* kDayOffsetIcon = "1224";
inline constexpr const char* kTime = "1240";
}  // namespace manual

}  // namespace torvane::controls
