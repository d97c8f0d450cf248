#include "control_tips.h"

#include <map>

#include "window/control_ids.h"

namespace lumora {

namespace {

struct Tip {
    const char* english;
    const char* chinese;
};

const char* const kStoredOnly = "Kept in the settings file; this program does not use it";
const char* const kStoredOnlyZh = "仅保存在设置文件中，本程序不使用";

const std::map<int, Tip>& Tips() {
    static const std::map<int, Tip> tips = {
        // Data Interface
        {IDC_PROTOCOL, {"Protocol, shown and stored only: the data port always receives UDP",
                        "协议（仅显示和保存）：数据端口总是接收 UDP"}},
        {IDC_LOCAL_IP, {"This computer's IPv4 address", "本机的 IPv4 地址"}},
        {IDC_PORT, {"UDP port the instrument sends its data to; used at the next Open",
                    "仪器发送数据的 UDP 端口，下次打开时生效"}},
        {IDC_CMD_PORT, {"The instrument's command port, used by WL, OS and the command editor",
                        "仪器的指令端口，波长、光谱按钮和指令发送窗口使用"}},
        {IDC_INTERVAL, {"Pause of the receiver after each datagram, in ms (0 = none)",
                        "每收到一个数据包后接收暂停的毫秒数（0 = 不暂停）"}},
        {IDC_STRING_FORMAT, {"The instrument sends JSON text instead of binary frames",
                             "仪器发送 JSON 文本而不是二进制帧"}},
        {IDC_AUTO_OPEN, {"Open the data port when the program starts and after System > Reset",
                         "程序启动和系统 > 重置后自动打开数据端口"}},
        {IDC_OPEN_CLOSE, {"Open or close the data port (Enter)", "打开或关闭数据端口（回车键）"}},
        {IDC_WL_MODE, {"Send the wavelength-mode command *chw!; to the instrument", "向仪器发送波长模式指令 *chw!;"}},
        {IDC_OS_MODE, {"Send the spectrum-mode command *chs!; to the instrument", "向仪器发送光谱模式指令 *chs!;"}},
        {IDC_RESET_REF, {"Make the next frame the zero of PhysicValue", "将下一帧作为物理量的零点"}},
        // Data Information
        {IDC_SN, {"Serial number of the latest frame", "最新一帧的仪器序列号"}},
        {IDC_DEVICE_IP, {"The instrument's address (the sender of the data); commands go there",
                         "仪器地址（数据的发送方），指令发往此地址"}},
        {IDC_COUNTER, {"Counter of the latest frame", "最新一帧的计数器"}},
        {IDC_CLEAR_COUNTER, {"Set the counter and the datagram count to 0", "计数器和数据包计数清零"}},
        {IDC_TIME, {"Time of the latest frame", "最新一帧的时间"}},
        {IDC_DAQ_FRQ, {"Datagrams received per second, counted over 10 s", "每秒接收的数据包数（按 10 秒统计）"}},
        {IDC_RT_FRQ, {"Realtime strips drawn per second, over the last 10 s", "实时图每秒绘制次数（最近 10 秒）"}},
        // Data Save
        {IDC_ENABLE, {"Record everything received into .dat files in Save DIR",
                      "将接收的数据记录到保存目录中的 .dat 文件"}},
        {IDC_LOCAL_TIME, {"Stamp this computer's time into the recorded data", "在记录的数据中写入本机时间"}},
        {IDC_SAVE_COUNTER, {"Stamp the datagram count into recorded binary frames", "在记录的二进制帧中写入数据包计数"}},
        {IDC_INNER_SENSOR, {"Write the instrument's inner sensors into converted CSV files",
                            "转换 CSV 时写入仪器的内置传感器"}},
        {IDC_UNMATCHED, {kStoredOnly, kStoredOnlyZh}},
        {IDC_ALIGN, {kStoredOnly, kStoredOnlyZh}},
        {IDC_ERROR_NUMBER, {kStoredOnly, kStoredOnlyZh}},
        {IDC_LINE_NUMBER, {"Records per .dat file before the next file is started",
                           "每个 .dat 文件的记录数，写满后开始下一个文件"}},
        {IDC_SAVED_LINES, {"Records in the current .dat file", "当前 .dat 文件中的记录数"}},
        {IDC_SAVE_FRQ, {"Datagrams per second while recording, counted over 10 s", "记录时每秒的数据包数（按 10 秒统计）"}},
        {IDC_FILE_NUMBER, {"Files written by the recorder or by the conversion", "记录或转换已写的文件数"}},
        {IDC_FILE_NAME, {"Name prefix of the .dat files", ".dat 文件名的前缀"}},
        {IDC_SAVE_DIR, {"Folder of the recordings; Data Convert converts it", "记录文件所在的文件夹，数据转换转换此文件夹"}},
        {IDC_BROWSE_DIR, {"Choose the recording folder", "选择记录文件夹"}},
        {IDC_PROGRESS_FILES, {"Conversion progress over the files", "转换进度（文件）"}},
        // Source data / Command return
        {IDC_RAW_DISP, {"Show each frame's raw data (hex or JSON) in the box below",
                        "在下方文本框中显示每帧的原始数据（十六进制或 JSON）"}},
        {IDC_RAW_CLEAR, {"Empty the box below", "清空下方文本框"}},
        {IDC_RAW_TEXT, {"Raw data of the frames, and the failures of commands", "帧的原始数据和指令发送失败的信息"}},
        {IDC_PROGRESS_RECORDS, {"Conversion progress through the current file", "转换进度（当前文件）"}},
        // View groups
        {IDC_LIST_DISP, {"Refresh the sensor list; takes effect when the port is opened",
                         "刷新传感器列表，打开端口时生效"}},
        {IDC_LIST_INR, {"Shown only: the list refreshes every 20 ms", "仅显示：列表每 20 ms 刷新一次"}},
        {IDC_SPECTRUM_DISP, {"Draw the spectra the instrument sends", "绘制仪器发送的光谱"}},
        {IDC_SPECTRUM_RESET, {"Empty the spectrum chart and its count", "清空光谱图及其计数"}},
        {IDC_SPECTRUM_CNT, {"Spectrum frames shown since the last RST", "上次重置后显示的光谱帧数"}},
        {IDC_TRACE_DISP, {"Draw the ticked or selected sensors over the last 500 frames",
                          "绘制勾选或选中的传感器最近 500 帧的变化"}},
        {IDC_TRACE_CNT, {"Shown only", "仅显示"}},
        {IDC_REALTIME_DISP, {"Draw the sensor chosen by ID at every new frame", "按 ID 绘制所选传感器的每一帧"}},
        {IDC_REALTIME_FULL, {"Draw the strip without its scale", "只画曲线，不画刻度"}},
        {IDC_REALTIME_LEN, {"Frames in the realtime strip, 10 to 10000", "实时图的帧数，10 到 10000"}},
        {IDC_REALTIME_ID, {"Sensor of the realtime strip: its row in the list (a click on a row sets it)",
                           "实时图的传感器：其在列表中的行号（点击列表行即可设置）"}},
        // Menu
        {ID_SYSTEM_RESET, {"Close the port, read the settings again, reopen when Auto is ticked",
                           "关闭端口，重新读取设置，勾选自动时重新打开"}},
        {ID_SYSTEM_EXIT, {"End the program", "退出程序"}},
        {ID_REPORT_DATA_DIR, {"Open Save DIR in the file manager", "在文件管理器中打开保存目录"}},
        {ID_SETTING_CONVERT_NORMAL, {"Settings of the conversion to CSV", "CSV 转换的设置"}},
        {ID_TOOLS_DEBUG, {"Send commands to the instrument and keep a list of them", "向仪器发送指令并保存指令列表"}},
        {ID_TOOLS_DATA_CONVERT, {"Convert the .dat files of Save DIR to CSV", "将保存目录中的 .dat 文件转换为 CSV"}},
        {ID_TOOLS_CONVERT_FOLDER, {"Convert the .dat files of a folder you choose to CSV",
                                   "将所选文件夹中的 .dat 文件转换为 CSV"}},
        {ID_TOOLS_ACTIVE_SA, {"Find the instruments that announce themselves on the network", "查找网络上的仪器"}},
        {ID_TOOLS_HIGHSPEED_DAQ, {"Start the high-speed capture script daq.sh", "启动高速采集脚本 daq.sh"}},
        {ID_TOOLS_HIGHSPEED_CONVERT, {"Start the high-speed conversion script convert.sh", "启动高速转换脚本 convert.sh"}},
        {ID_HELP_HANDBOOK, {"The guide to this program", "本程序的使用指南"}},
        {ID_HELP_ABOUT, {"Version and copyright", "版本和版权"}},
        {ID_LANGUAGE_CHINESE, {"Restart the program in Chinese", "以中文重新启动程序"}},
        {ID_LANGUAGE_ENGLISH, {"Restart the program in English", "以英文重新启动程序"}},
        {ID_SETTING_SENSORS, {"Labels, engineering values and alarm limits of the sensors", "传感器的标签、工程值和报警限"}},
        {ID_SETTING_MQTT, {"Publish the decoded frames to an MQTT broker", "将解码后的帧发布到 MQTT 服务器"}},
        {ID_TOOLS_PLAY_RECORDING, {"Send a recording to the data port as the instrument would",
                                   "像仪器一样将记录文件发送到数据端口"}},
    };
    return tips;
}

const Tip kTabTips[kViewTabCount] = {
    {"The latest frame's readings, one row per sensor; tick rows for the trace",
     "最新一帧的读数，每个传感器一行；勾选的行显示在趋势图中"},
    {"Raw spectra, one line per channel", "原始光谱，每个通道一条曲线"},
    {"Ticked or selected sensors over the last 500 frames", "勾选或选中的传感器最近 500 帧的变化"},
    {"One sensor at every new frame", "一个传感器的每一帧"},
    {"Instruments found on the network; a double click opens a device's web page",
     "网络上找到的仪器；双击打开仪器的网页"},
};

struct ToolTip {
    const char* window;
    const char* control;
    Tip tip;
};

const Tip kOkTip{"Take the values and close", "采用这些值并关闭"};
const Tip kCancelTip{"Close without taking the values", "关闭，不采用这些值"};

// The tool windows' controls: by the window's object name, then the control's.
const ToolTip kToolTips[] = {
    {"commandEditor", "ctl1068", {"Name of the command in the list", "指令在列表中的名称"}},
    {"commandEditor", "ctl1069", {"Text sent to the instrument; Enter makes a line break", "发送给仪器的文本，回车换行"}},
    {"commandEditor", "ctl1071", {"Your commands; a click puts one into the boxes", "你的指令列表，点击一条将其填入上方文本框"}},
    {"commandEditor", "ctl1074", {"Send the text to the instrument's IP and CMD Port", "将文本发送到仪器的 IP 和指令端口"}},
    {"commandEditor", "ctl1075", {"Add the boxes as a new command; the name @@ adds a separator",
                                  "将文本框内容添加为新指令；名称 @@ 添加分隔行"}},
    {"commandEditor", "ctl1076", {"Remove the selected command", "删除所选指令"}},
    {"commandEditor", "ctl1072", {"Replace the list with the standard commands", "用标准指令替换列表"}},
    {"commandEditor", "ctl1073", {"Write the list to Lumora.ini", "将列表写入 Lumora.ini"}},
    {"commandEditor", "ctl2", {"Hide the window; only Save writes the list", "隐藏窗口；只有“保存”才写入列表"}},
    {"convertSettingsDialog", "ctl1037", {"Rows per CSV file before the next file is started", "每个 CSV 文件的行数，写满后开始下一个文件"}},
    {"convertSettingsDialog", "ctl1038", {"Align errors in a row before a new output file is started",
                                          "连续多少个对齐错误后开始新的输出文件"}},
    {"convertSettingsDialog", "ctl1073", {"JSON recordings: only the sensors the instrument matched", "JSON 记录：只导出仪器已匹配的传感器"}},
    {"convertSettingsDialog", "ctl1067", {"Per sensor a label, the wavelength and the physical value",
                                          "每个传感器导出标签、波长和物理量"}},
    {"convertSettingsDialog", "ctl1068", {"Serial numbers in the sensor labels", "传感器标签中包含序列号"}},
    {"convertSettingsDialog", "ctl1070", {"The time column with the date", "时间列包含日期"}},
    {"convertSettingsDialog", "ctl1071", {"A UTime column: seconds since 1970", "增加 UTime 列：自 1970 年起的秒数"}},
    {"convertSettingsDialog", "ctl1072", {"One header for the whole table; off: grouped per sensor", "整个表格一个标题行；不勾选时按传感器分组"}},
    {"convertSettingsDialog", "ctl1069", {"Kept in the settings file only", "仅保存在设置文件中"}},
    {"convertSettingsDialog", "ctl1074", {"Times with milliseconds, UTime with six decimals", "时间带毫秒，UTime 带六位小数"}},
    {"convertSettingsDialog", "ctl1075", {"Each sensor's engineering value from the sensor table", "导出传感器表给出的每个传感器的工程值"}},
    {"convertSettingsDialog", "ctl1052", kOkTip},
    {"convertSettingsDialog", "ctl1053", kCancelTip},
    {"conversionWindow", "conversionCancel", {"Stop the run within a second; the file being converted leaves nothing",
                                              "一秒内停止转换，正在转换的文件不留下任何内容"}},
    {"conversionWindow", "conversionOpenFolder", {"Show the folder in the file manager", "在文件管理器中显示该文件夹"}},
    {"conversionWindow", "conversionClose", {"Hide this window; a run goes on", "隐藏此窗口，转换继续进行"}},
    {"highSpeedDaqDialog", "ctl1037", {"UDP port the capture listens on", "采集监听的 UDP 端口"}},
    {"highSpeedDaqDialog", "ctl1038", {"Frames to capture", "要采集的帧数"}},
    {"highSpeedDaqDialog", "ctl1039", {"Longest capture time in seconds", "最长采集时间（秒）"}},
    {"highSpeedDaqDialog", "ctl1040", {"Seconds between writes of the cache to the file", "缓存写入文件的间隔（秒）"}},
    {"highSpeedDaqDialog", "ctl1041", {"The capture is written to this name plus .dat", "采集写入此名称加 .dat 的文件"}},
    {"highSpeedDaqDialog", "ctl1", {"Start daq.sh with these values", "用这些值启动 daq.sh"}},
    {"highSpeedDaqDialog", "ctl2", kCancelTip},
    {"highSpeedConvertDialog", "ctl1061", {"Offset added to every wavelength", "加到每个波长上的偏移量"}},
    {"highSpeedConvertDialog", "ctl1062", {"Offset added to every channel number", "加到每个通道号上的偏移量"}},
    {"highSpeedConvertDialog", "ctl1063", {"FILE.dat is converted into FILE.csv", "将 FILE.dat 转换为 FILE.csv"}},
    {"highSpeedConvertDialog", "ctl1", {"Start convert.sh with these values", "用这些值启动 convert.sh"}},
    {"highSpeedConvertDialog", "ctl2", kCancelTip},
    {"mqttDialog", "mqttEnable", {"Publish every decoded frame of the open data port", "发布已打开数据端口解码的每一帧"}},
    {"mqttDialog", "mqttHost", {"The broker's host name or address", "服务器的主机名或地址"}},
    {"mqttDialog", "mqttPort", {"The broker's port: 1883, or 8883 with TLS", "服务器端口：1883，TLS 为 8883"}},
    {"mqttDialog", "mqttTopic", {"Frames go to TOPIC/DEVICE/frames; no + or #", "帧发布到 TOPIC/设备/frames；不能含 + 或 #"}},
    {"mqttDialog", "mqttClientId", {"This program's client id at the broker", "本程序在服务器上的客户端 ID"}},
    {"mqttDialog", "mqttBatchMs", {"Frames of this many ms go out in one message", "每条消息包含这么多毫秒内的帧"}},
    {"mqttDialog", "mqttQoS", {"MQTT quality of service: 0, 1 or 2", "MQTT 服务质量：0、1 或 2"}},
    {"mqttDialog", "mqttUser", {"User name at the broker, if it asks for one", "服务器要求时的用户名"}},
    {"mqttDialog", "mqttPassword", {"Password at the broker; without a CA file it travels unencrypted",
                                    "服务器密码；没有 CA 文件时以明文传输"}},
    {"mqttDialog", "mqttCAFile", {"Certificate file of the broker's authority; set, it turns TLS on",
                                  "服务器证书颁发机构的证书文件；设置后启用 TLS"}},
    {"mqttDialog", "mqttBrowseCA", {"Choose the CA file", "选择 CA 文件"}},
    {"mqttDialog", "mqttApply", {"Reconnect with these settings", "用这些设置重新连接"}},
    {"mqttDialog", "mqttClose", {"Close the window; the settings are kept", "关闭窗口，设置已保存"}},
    {"sensorsDialog", "sensorFile", {"The sensor table file (sensors.csv beside Lumora.ini)", "传感器表文件（Lumora.ini 旁的 sensors.csv）"}},
    {"sensorsDialog", "sensorOpen", {"Open another sensor table file", "打开另一个传感器表文件"}},
    {"sensorsDialog", "sensorGrid", {"One row per sensor: id, lambda0, coefficients and alarm limits",
                                     "每个传感器一行：id、lambda0、系数和报警限"}},
    {"sensorsDialog", "sensorAdd", {"Add an empty row", "添加一个空行"}},
    {"sensorsDialog", "sensorRemove", {"Remove the selected rows", "删除所选行"}},
    {"sensorsDialog", "sensorImport", {"Read the rows from a CSV file", "从 CSV 文件读入各行"}},
    {"sensorsDialog", "sensorExport", {"Write the rows to a CSV file", "将各行写入 CSV 文件"}},
    {"sensorsDialog", "sensorZero", {"Take the latest frame's wavelengths as lambda0, after a question",
                                     "询问后将最新一帧的波长作为 lambda0"}},
    {"sensorsDialog", "presetKind", {"How the preset fills c0 and c1: strain, temperature or linear",
                                     "预设如何填写 c0 和 c1：应变、温度或线性"}},
    {"sensorsDialog", "presetA", {"The preset's first parameter", "预设的第一个参数"}},
    {"sensorsDialog", "presetB", {"The preset's second parameter", "预设的第二个参数"}},
    {"sensorsDialog", "presetApply", {"Fill c0 and c1 of the selected rows from the preset", "按预设填写所选行的 c0 和 c1"}},
    {"sensorsDialog", "sensorSave", {"Check the table, write the file and use it at once", "检查表格，写入文件并立即启用"}},
    {"sensorsDialog", "sensorClose", {"Close the window; only Save writes the file", "关闭窗口；只有“保存”才写入文件"}},
    {"mainWindow", "traceUnits", {"Draw the engineering values of the sensor table, with their units",
                                  "以传感器表的工程值及其单位绘图"}},
    {"mainWindow", "realtimeUnits", {"Draw the engineering value of the sensor table, with its unit",
                                     "以传感器表的工程值及其单位绘图"}},
    {"replayWindow", "replaySpeed", {"Playing speed against the recorded times, 0.1 to 100", "相对记录时间的回放速度，0.1 到 100"}},
    {"replayWindow", "replayPause", {"Pause or resume the playing", "暂停或继续回放"}},
    {"replayWindow", "replayStop", {"Stop the playing", "停止回放"}},
};

QString In(const Tip& tip, Language lang) {
    return QString::fromUtf8(lang == Language::Chinese ? tip.chinese : tip.english);
}

}  // namespace

QString ControlTip(int id, Language lang) {
    auto it = Tips().find(id);
    return it == Tips().end() ? QString() : In(it->second, lang);
}

QString ViewTabTip(int tab, Language lang) {
    return tab >= 0 && tab < kViewTabCount ? In(kTabTips[tab], lang) : QString();
}

void ApplyToolTips(QWidget* window, Language lang) {
    const QString name = window->objectName();
    for (const ToolTip& t : kToolTips)
        if (name == QLatin1String(t.window))
            if (auto* control = window->findChild<QWidget*>(QLatin1String(t.control))) control->setToolTip(In(t.tip, lang));
}

}  // namespace lumora
