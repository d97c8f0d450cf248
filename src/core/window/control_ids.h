#pragma once
// Identifiers of the main window's controls, menu commands, timers and view
// tabs. The desktop front end names each widget "ctl<id>" and each menu action
// "cmd<id>", so tests and tools find them by these numbers.

namespace lumora {

// Group "Data Interface"
inline constexpr int IDC_PROTOCOL = 1003;       // PROT combo
inline constexpr int IDC_LOCAL_IP = 1004;       // IP combo (this computer's address)
inline constexpr int IDC_PORT = 1005;           // RCV Port
inline constexpr int IDC_CMD_PORT = 1008;       // CMD Port
inline constexpr int IDC_INTERVAL = 1027;       // INR (ms)
inline constexpr int IDC_STRING_FORMAT = 1069;  // STR Format
inline constexpr int IDC_AUTO_OPEN = 1046;      // Auto
inline constexpr int IDC_OPEN_CLOSE = 1006;     // Open / Close
inline constexpr int IDC_WL_MODE = 1071;        // WL
inline constexpr int IDC_OS_MODE = 1072;        // OS
inline constexpr int IDC_RESET_REF = 1073;      // RST

// Group "Data Information"
inline constexpr int IDC_SN = 1020;
inline constexpr int IDC_DEVICE_IP = 1007;
inline constexpr int IDC_COUNTER = 1022;
inline constexpr int IDC_CLEAR_COUNTER = 1059;  // "x"
inline constexpr int IDC_TIME = 1024;
inline constexpr int IDC_DAQ_FRQ = 1026;
inline constexpr int IDC_RT_FRQ = 1031;

// Group "Data Save"
inline constexpr int IDC_ENABLE = 1011;
inline constexpr int IDC_LOCAL_TIME = 1023;
inline constexpr int IDC_SAVE_COUNTER = 1032;
inline constexpr int IDC_INNER_SENSOR = 1038;
inline constexpr int IDC_UNMATCHED = 1074;
inline constexpr int IDC_ALIGN = 1061;
inline constexpr int IDC_ERROR_NUMBER = 1036;   // ERR Tolerant
inline constexpr int IDC_LINE_NUMBER = 1014;    // File lines
inline constexpr int IDC_SAVED_LINES = 1019;
inline constexpr int IDC_SAVE_FRQ = 1041;
inline constexpr int IDC_FILE_NUMBER = 1044;
inline constexpr int IDC_FILE_NAME = 1016;
inline constexpr int IDC_SAVE_DIR = 1010;
inline constexpr int IDC_BROWSE_DIR = 1013;     // ">"
inline constexpr int IDC_PROGRESS_FILES = 1055;

// Group "Source data / Command return"
inline constexpr int IDC_RAW_DISP = 1033;
inline constexpr int IDC_RAW_CLEAR = 1034;      // CLS
inline constexpr int IDC_RAW_TEXT = 1030;
inline constexpr int IDC_PROGRESS_RECORDS = 1056;

// View groups
inline constexpr int IDC_LIST_DISP = 1037;
inline constexpr int IDC_LIST_INR = 1049;
inline constexpr int IDC_SPECTRUM_DISP = 1043;
inline constexpr int IDC_SPECTRUM_RESET = 1068;
inline constexpr int IDC_SPECTRUM_CNT = 1050;
inline constexpr int IDC_TRACE_DISP = 1040;
inline constexpr int IDC_TRACE_CNT = 1051;
inline constexpr int IDC_REALTIME_DISP = 1039;
inline constexpr int IDC_REALTIME_FULL = 1053;
inline constexpr int IDC_REALTIME_LEN = 1058;
inline constexpr int IDC_REALTIME_ID = 1052;
inline constexpr int IDC_REALTIME_SPIN = 1060;
inline constexpr int IDC_VIEW_AREA = 1057;

// Menu commands
inline constexpr int ID_SYSTEM_RESET = 32797;
inline constexpr int ID_SYSTEM_EXIT = 32775;
inline constexpr int ID_REPORT_DATA_DIR = 32799;
inline constexpr int ID_SETTING_CONVERT_NORMAL = 32809;
inline constexpr int ID_SETTING_CONVERT_HIGHSPEED = 32810;  // disabled
inline constexpr int ID_TOOLS_DEBUG = 32812;
inline constexpr int ID_TOOLS_DATA_CONVERT = 32784;
inline constexpr int ID_TOOLS_ACTIVE_SA = 32800;
inline constexpr int ID_TOOLS_HIGHSPEED_DAQ = 32803;
inline constexpr int ID_TOOLS_HIGHSPEED_CONVERT = 32804;
inline constexpr int ID_HELP_HANDBOOK = 32779;
inline constexpr int ID_HELP_QUICKSTART = 32790;  // disabled
inline constexpr int ID_HELP_UPGRADE = 32789;     // disabled
inline constexpr int ID_HELP_ABOUT = 32780;
inline constexpr int ID_LANGUAGE_CHINESE = 32816;
inline constexpr int ID_LANGUAGE_ENGLISH = 32813;
inline constexpr int ID_SETTING_MQTT = 32830;
inline constexpr int ID_TOOLS_PLAY_RECORDING = 32831;
inline constexpr int ID_SETTING_SENSORS = 32832;
inline constexpr int ID_TOOLS_CONVERT_FOLDER = 32840;
inline constexpr int IDM_ABOUTBOX = 16;           // system-menu item
inline constexpr int IDCANCEL_COMMAND = 2;        // tray menu "Close"

// Window timers
inline constexpr int kTimerSensorList = 0;
inline constexpr int kTimerTrace = 2;
inline constexpr int kTimerStatus = 3;
inline constexpr int kListTimerMs = 20;
inline constexpr int kTraceTimerMs = 20;
inline constexpr int kStatusTimerMs = 1000;

// View tabs
inline constexpr int kViewTabList = 0;
inline constexpr int kViewTabSpectrum = 1;
inline constexpr int kViewTabTrace = 2;
inline constexpr int kViewTabRealtime = 3;
inline constexpr int kViewTabActiveSa = 4;
inline constexpr int kViewTabCount = 5;

}  // namespace lumora
