#include "window/captions.h"

#include "window/control_ids.h"
#include "lumora_version.h"

namespace lumora {
namespace {

struct Text {
    int id;
    const char* english;
    const char* chinese;
};

const Text kCaptions[] = {
    {IDC_STRING_FORMAT, "STR Format  ", "字符格式     ."},
    {IDC_AUTO_OPEN, "Auto", "自动"},
    {IDC_OPEN_CLOSE, "Open", "打开"},
    {IDC_WL_MODE, "WL", "波长"},
    {IDC_OS_MODE, "OS", "光谱"},
    {IDC_RESET_REF, "RST", "复位"},
    {IDC_CLEAR_COUNTER, "x", "x"},
    {IDC_ENABLE, "Enable", "启用"},
    {IDC_LOCAL_TIME, "Local Time", "本机时间记录"},
    {IDC_SAVE_COUNTER, "Counter", "保留计数器"},
    {IDC_INNER_SENSOR, "Inner sensor", "保留内置传感器"},
    {IDC_UNMATCHED, "Unmatched", "保留未匹配传感器"},
    {IDC_ALIGN, "Align", "对齐字段"},
    {IDC_BROWSE_DIR, ">", ">"},
    {IDC_RAW_DISP, "DISP", "显示"},
    {IDC_RAW_CLEAR, "CLS", "清除"},
    {IDC_LIST_DISP, "DISP", "显示"},
    {IDC_SPECTRUM_DISP, "DISP", "显示"},
    {IDC_SPECTRUM_RESET, "RST", "重置"},
    {IDC_TRACE_DISP, "DISP", "显示"},
    {IDC_REALTIME_DISP, "DISP", "显示"},
    {IDC_REALTIME_FULL, "FULL", "全速"},
};

const Text kLabels[] = {
    {IDC_PROTOCOL, "PROT", "协议"},
    {IDC_LOCAL_IP, "IP", "IP"},
    {IDC_PORT, "RCV Port", "接收端口"},
    {IDC_CMD_PORT, "CMD Port", "指令端口"},
    {IDC_INTERVAL, "INR (ms)", "接收间隔(ms)"},
    {IDC_SN, "SN", "序列号"},
    {IDC_DEVICE_IP, "IP", "IP"},
    {IDC_COUNTER, "Counter", "计数器"},
    {IDC_TIME, "Time", "时间"},
    {IDC_DAQ_FRQ, "DAQ FRQ", "数据速率"},
    {IDC_RT_FRQ, "FRQ", "实时速率"},
    {IDC_ERROR_NUMBER, "ERR Tolerant", "容错行数"},
    {IDC_LINE_NUMBER, "File lines", "文件行数"},
    {IDC_SAVED_LINES, "Saved lines", "已存行数"},
    {IDC_SAVE_FRQ, "Save FRQ", "保存速率"},
    {IDC_FILE_NUMBER, "File Number", "已存文件数"},
    {IDC_FILE_NAME, "File Name", "文件名"},
    {IDC_SAVE_DIR, "Save DIR", "保存目录"},
    {IDC_LIST_INR, "INR", "间隔"},
    {IDC_SPECTRUM_CNT, "CNT", "计数"},
    {IDC_TRACE_CNT, "CNT", "间隔"},
    {IDC_REALTIME_LEN, "LEN", "长度"},
    {IDC_REALTIME_ID, "ID", "ID"},
};

const Text kInitialTexts[] = {
    {IDC_SN, "SN", nullptr},          {IDC_COUNTER, "12345678", nullptr}, {IDC_TIME, "00:00:00", nullptr},
    {IDC_DAQ_FRQ, "0", nullptr},      {IDC_RT_FRQ, "0", nullptr},         {IDC_SAVED_LINES, "0", nullptr},
    {IDC_SAVE_FRQ, "0", nullptr},     {IDC_FILE_NUMBER, "0", nullptr},
};

const Text kTabs[] = {
    {kViewTabList, "List", "列表"},
    {kViewTabSpectrum, "Spectrum", "光谱"},
    {kViewTabTrace, "Trace", "趋势图"},
    {kViewTabRealtime, "Realtime", "实时图"},
    {kViewTabActiveSa, "Active SA", "在线设备"},
};

std::string Find(const Text* table, size_t n, int id, Language lang) {
    for (size_t i = 0; i < n; ++i)
        if (table[i].id == id) return lang == Language::Chinese && table[i].chinese ? table[i].chinese : table[i].english;
    return {};
}

}  // namespace

std::string ControlCaption(int controlId, Language lang) {
    return Find(kCaptions, std::size(kCaptions), controlId, lang);
}

std::string ControlLabel(int controlId, Language lang) { return Find(kLabels, std::size(kLabels), controlId, lang); }

std::string ControlInitialText(int controlId) {
    return Find(kInitialTexts, std::size(kInitialTexts), controlId, Language::English);
}

std::string GroupTitle(Group group, Language lang) {
    static const Text kGroups[] = {
        {static_cast<int>(Group::DataInterface), "Data Interface", " 数据接口"},
        {static_cast<int>(Group::DataInformation), "Data Information", "数据信息"},
        {static_cast<int>(Group::DataSave), "Data Save", "数据保存"},
        {static_cast<int>(Group::SourceData), "Source data / Command return", "原始接收数据 / 命令返回信息"},
        {static_cast<int>(Group::ListView), "List view", "传感器列表"},
        {static_cast<int>(Group::Spectrum), "Spectrum", "光谱图"},
        {static_cast<int>(Group::TraceView), "Trace View", "趋势视图"},
        {static_cast<int>(Group::RealtimeView), "Realtime View", "实时视图"},
    };
    return Find(kGroups, std::size(kGroups), static_cast<int>(group), lang);
}

std::string ViewTabCaption(int tab, Language lang) { return Find(kTabs, std::size(kTabs), tab, lang); }

const std::vector<MenuEntry>& MainMenu() {
    static const std::vector<MenuEntry> kMenu = {
        {0, 0, "S&ystem", "系统(&Y)", true, -1},
        {1, ID_SYSTEM_RESET, "&Reset", "重置(&R)", true, -1},
        {1, -1, "", "", true, -1},
        {1, ID_SYSTEM_EXIT, "E&xit", "退出(&X)", true, -1},
        {0, 0, "&Report", "报表(&R)", true, -1},
        {1, ID_REPORT_DATA_DIR, "Data &DIR", "数据目录(&D)", true, -1},
        {0, 0, "Se&tting", "设置(&T)", true, -1},
        {1, 0, "&Data Convert", "数据转换(&D)", true, -1},
        {2, ID_SETTING_CONVERT_NORMAL, "&Normal", "常规(&N)", true, -1},
        {2, ID_SETTING_CONVERT_HIGHSPEED, "&HighSpeed", "高速(&H)", false, -1},
        {1, ID_SETTING_MQTT, "&MQTT...", "MQTT 发布(&M)...", true, -1},
        {0, 0, "&Tools", "工具(&T)", true, -1},
        {1, ID_TOOLS_DEBUG, "&Debug", " 指令发送(&C)", true, -1},
        {1, -1, "", "", true, -1},
        {1, ID_TOOLS_DATA_CONVERT, "Data &Convert", "数据转换(&D)", true, -1},
        {1, ID_TOOLS_CONVERT_FOLDER, "Convert &folder...", "转换文件夹(&F)...", true, -1},
        {1, -1, "", "", true, -1},
        {1, ID_TOOLS_ACTIVE_SA, "&Active SA", "在线设备查找(&S)", true, -1},
        {1, -1, "", "", true, -1},
        {1, ID_TOOLS_HIGHSPEED_DAQ, "HighSpeed DAQ", "高速数据采集", true, -1},
        {1, ID_TOOLS_HIGHSPEED_CONVERT, "HighSpeed Convert", "高速数据转换", true, -1},
        {1, ID_TOOLS_PLAY_RECORDING, "&Play recording...", "回放记录(&P)...", true, -1},
        {0, 0, "&Help", "帮助(&H)", true, -1},
        {1, ID_HELP_HANDBOOK, "&Handbook", "指南(&W)", false, -1},
        {1, ID_HELP_QUICKSTART, "&QuickStart", "快速使用(&Q)", false, -1},
        {1, -1, "", "", true, -1},
        {1, ID_HELP_UPGRADE, "&Upgrade", "升级(&U)", false, -1},
        {1, -1, "", "", true, -1},
        {1, ID_HELP_ABOUT, "&About", "关于(&A)", true, -1},
        {0, 0, "&Language", "语言(L)", true, -1},
        {1, ID_LANGUAGE_CHINESE, "&中文", "&中文", true, static_cast<int>(Language::English)},
        {1, ID_LANGUAGE_ENGLISH, "&English", "&English", true, static_cast<int>(Language::Chinese)},
    };
    return kMenu;
}

std::string MenuText(int commandId, Language lang) {
    for (const MenuEntry& e : MainMenu())
        if (e.id == commandId && commandId > 0) return lang == Language::Chinese ? e.chinese : e.english;
    return {};
}

std::string WindowTitle() { return std::string(LUMORA_PRODUCT_NAME) + " Ver: " + LUMORA_PRODUCT_VERSION; }
std::string AboutVersionLine() { return std::string(LUMORA_PRODUCT_NAME) + " Ver:" + LUMORA_PRODUCT_VERSION; }
std::string AboutCopyrightLine() { return std::string(LUMORA_LEGAL_COPYRIGHT) + " Copyright"; }
std::string AboutTitle(Language lang) { return lang == Language::Chinese ? "关于 Lumora" : "About Lumora"; }
std::string AboutOkCaption(Language lang) { return lang == Language::Chinese ? "确定" : "OK"; }

}  // namespace lumora
