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
        {IDC_DAQ_FRQ, {"Datagrams received per second", "每秒接收的数据包数"}},
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
        {IDC_SAVE_FRQ, {"Datagrams per second while recording", "记录时每秒的数据包数"}},
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

}  // namespace lumora
