#include "window/string_table.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <vector>

namespace lumora {
namespace {

struct StringEntry {
    int id;
    const char* english;
    const char* chinese;
};

// Ordered by id. Add texts here; both languages always.
const StringEntry kStrings[] = {
    {101, "About Lumora(&A)...", "关于 Lumora(&A)..."},
    {103, "Windows socket error.", "Windows 套接字初始化失败。"},
    {201, "CH", "通道"},
    {202, "Wavelength", "波长"},
    {203, "WL Delta", "波长差"},
    {204, "PhysicValue", "物理量"},
    {211, "Close", "关闭"},
    {212, "Open", "打开"},
    {214, "Failed to open the network port. Please check whether the program for monitoring the port has been run!",
     "网络端口打开失败，请检查是否已经运行了监测端口的程序！"},
    {215,
     "Port:%s, Network startup failed\n Check if lumora has been run\n Confirm whether the system tray has hidden "
     "running lumora. If so, please close it first.",
     "端口：%s，网络启动失败！\n检查是否已经运行了lumora。\n确认系统托盘是否有隐藏运行的lumora，如有运行，请先关闭。"},
    {216, "No source data file in the directory!", "目录下没有数据文件！"},
    {217, "There are %d export files in the directory. Do you want to overwrite them?",
     "目录下已经存在导出文件共 %d 个，是否覆盖？"},
    {218, "In '%s' %d files will be converted!", "'%s'目录下有 %d个文件将转换！"},
    {219,
     "The system is converted according to the following parameters. Do you need to change it\nMaximum file lines: "
     "%s\nInclude physic value: %d\nInclude serial number: %d\nInclude date: %d\nInclude UNIX timestamp: %d\nTitle "
     "align: %d\nError line number: %s\n",
     "系统依据以下参数转化，是否需要更改？\n最大文件行数：%s\n导出物理量：%d\n导出序列号：%d\n导出日期：%d\n导出Unix时间戳：%"
     "d\n标题栏对其：%d\n对其冗余行数：%s\n"},
    {220, "Cannot create the record file %s (%s)", "无法创建记录文件 %s（%s）"},
    {221, "Cannot write the record file %s (%s): records are being lost",
     "无法写入记录文件 %s（%s）：记录正在丢失"},
    {222, "%u (lost %llu)", "%u（丢失 %llu）"},
    {225, "Receiving stopped after an error: %s", "接收因错误而停止：%s"},
    {226, "Device discovery stopped after an error: %s", "设备查找因错误而停止：%s"},
    {227, "Datagrams ignored (empty or blank): %llu\nDatagrams cut short: %llu",
     "忽略的数据报（空或空白）：%llu\n被截断的数据报：%llu"},
    {230, "File Name may not contain /, \\ or ..", "文件名不能包含 /、\\ 或 .."},
    {231, "LineNumber=%s of %s is below 1: a new file is started after every %u records.",
     "LineNumber=%s（%s）小于 1：每 %u 条记录开始一个新文件。"},
    {232, "%s holds a password and other users can read it: chmod 600 %s",
     "%s 保存了密码，其他用户可以读取：chmod 600 %s"},
    // Captions of the device list's columns 4 to 9.
    {240, "Counter", "计数器"},
    {241, "FRQ", "频率"},
    {242, "Error", "错误"},
    {243, "Warn", "警告"},
    {244, "DTPort", "数据端口"},
    {245, "CMDPort", "命令端口"},
    // Conversion: a folder that cannot be converted.
    {260, "'%s' is being converted by another run.", "'%s'正在由另一个转换任务转换。"},
    {261, "The folder '%s' does not exist.", "文件夹'%s'不存在。"},
    {262, "The folder '%s' cannot be opened: %s", "无法打开文件夹'%s'：%s"},
};

std::atomic<int> g_language{0};

}  // namespace

void SetUiLanguage(Language lang) { g_language.store(static_cast<int>(lang)); }
Language UiLanguage() { return static_cast<Language>(g_language.load()); }

std::string LoadString(int id, Language lang) {
    for (const StringEntry& e : kStrings)
        if (e.id == id) return lang == Language::Chinese ? e.chinese : e.english;
    return {};
}

std::string LoadString(int id) { return LoadString(id, UiLanguage()); }

std::string StringPrintf(const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    va_list copy;
    va_copy(copy, args);
    int n = std::vsnprintf(nullptr, 0, fmt, copy);
    va_end(copy);
    std::string out;
    if (n > 0) {
        std::vector<char> buf(static_cast<size_t>(n) + 1);
        std::vsnprintf(buf.data(), buf.size(), fmt, args);
        out.assign(buf.data(), static_cast<size_t>(n));
    }
    va_end(args);
    return out;
}

}  // namespace lumora
