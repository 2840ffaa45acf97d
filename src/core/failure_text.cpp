// SPDX-License-Identifier: MIT
#include "core/failure_text.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstddef>
#include <cstring>

#include "regwire.h"

namespace bench {
namespace {

constexpr int32_t kLowest16 = -32768;
constexpr int32_t kHighest16 = 65535;
// A notice lists this many refused values and counts the rest.
constexpr std::size_t kRefusedListed = 8;

std::string station(int32_t number) {
    return "站号 " + std::to_string(number) + " 的从站";
}

std::string exceptionReason(int32_t code, int32_t at) {
    static constexpr std::array<const char*, 12> kNames = {
        nullptr,          "非法功能",           "非法数据地址", "非法数据值",       "从站设备故障",
        "确认",           "从站设备忙",         "否定确认",     "存储奇偶校验错误", nullptr,
        "网关路径不可用", "网关目标设备无响应",
    };
    std::string text = station(at) + "回复异常码 " + std::to_string(code);
    const auto index = static_cast<std::size_t>(code);
    if (index < kNames.size() && kNames[index] != nullptr)
        text += std::string("（") + kNames[index] + "）";
    return text;
}

std::string refusedText(const std::vector<RefusedValue>& refused) {
    std::string text;
    for (std::size_t i = 0; i < refused.size() && i < kRefusedListed; ++i) {
        if (i > 0) text += "、";
        text +=
            "第 " + std::to_string(refused[i].row) + " 行的值 " + std::to_string(refused[i].value);
    }
    if (refused.size() > kRefusedListed) text += " 等 " + std::to_string(refused.size()) + " 个值";
    return text + " 超出 -32768..65535，未写入任何值";
}

const char* verb(Command command) {
    switch (command) {
        case Command::Open:
            return "打开";
        case Command::Close:
            return "关闭";
        case Command::Write:
            return "写入";
        case Command::Read:
            return "读取";
    }
    return "";
}

// "写入端口 6 失败：<reason>。"
std::string sentence(const FailedCall& call, const std::string& reason) {
    return std::string(verb(call.command)) + "端口 " + std::to_string(call.port) + " 失败：" +
           reason + "。";
}

// What the operator can do about a failed open, which the library's account tells:
// a device the user may not open, or a port that no map names.
struct OpenAdvice {
    std::string sentence;  // in the window's language
    std::string hint;      // in the technical part's language
};

std::vector<OpenAdvice> openAdvice(const FailedCall& call) {
    std::vector<OpenAdvice> advice;
    if (call.command != Command::Open || call.result != REGWIRE_EOPEN) return advice;
    const std::string& detail = call.detail;
    // The library words the system's reason in the program's locale.
    const bool denied =
        detail.find(std::string("open: ") + std::strerror(EACCES)) != std::string::npos ||
        detail.find("open: Permission denied") != std::string::npos;
    if (denied) {
        advice.push_back(
            {"没有使用该设备的权限：请加入 dialout 组（sudo adduser $USER dialout），"
             "然后重新登录；regwire ports 显示能否打开各设备。",
             "Join group dialout (sudo adduser $USER dialout), then log in again; "
             "regwire ports shows whether you may open each device."});
    }
    if (detail.find("; device from default") != std::string::npos) {
        const std::string port = std::to_string(call.port);
        advice.push_back({"端口 " + port + " 没有映射到设备：用 regwire map " + port +
                              " 设备 把适配器映射到该端口（regwire ports 列出设备）。",
                          "Port " + port + " is mapped to no device; map one with: regwire map " +
                              port + " DEVICE (regwire ports lists the devices)."});
    }
    return advice;
}

std::string technical(const FailedCall& call) {
    std::string text = call.detail;
    if (!text.empty()) text += "\n";
    for (const OpenAdvice& a : openAdvice(call)) text += a.hint + "\n";
    return text + call.function + " returned " + std::to_string(call.result);
}

}  // namespace

bool closeFailureIsWorthANotice(int32_t result) {
    return isFailure(result) && result != REGWIRE_ENOTOPEN && result != REGWIRE_EBADARG;
}

std::string resultReason(int32_t result, int32_t at) {
    switch (result) {
        case REGWIRE_EBADARG:
            return "参数超出驱动程序接受的范围，未发送任何数据";
        case REGWIRE_ENOTOPEN:
            return "端口未打开";
        case REGWIRE_EOPEN:
            return "无法打开端口的设备";
        case REGWIRE_ETIMEOUT:
            return station(at) + "没有按时应答";
        case REGWIRE_ECRC:
            return station(at) + "的应答校验错误或格式不对";
        case REGWIRE_ERANGE:
            return "有值超出寄存器的范围，未写入任何值";
        case REGWIRE_ELOST:
            return "设备已断开，请重新打开端口";
        case REGWIRE_EIO:
            return "通讯线路故障";
        case REGWIRE_EPENDING:
            return station(at) + "对前一请求的应答可能仍会到达，本次未发送任何数据";
        default:
            break;
    }
    if (REGWIRE_IS_EXCEPTION(result)) return exceptionReason(REGWIRE_EXCEPTION_CODE(result), at);
    return "驱动程序返回错误 " + std::to_string(result);
}

std::vector<RefusedValue> refusedValues16(const int32_t* values, int32_t count) {
    std::vector<RefusedValue> refused;
    for (int32_t i = 0; values != nullptr && i < count; ++i) {
        if (values[i] < kLowest16 || values[i] > kHighest16) refused.push_back({i + 1, values[i]});
    }
    return refused;
}

NoticeText failureNotice(const FailedCall& call, const std::vector<RefusedValue>& refused) {
    NoticeText notice;
    notice.title = std::string(verb(call.command)) + "失败";
    // The values are the reason only when the driver refused them for their range.
    const bool valuesRefused = call.result == REGWIRE_ERANGE && !refused.empty();
    notice.sentence = sentence(
        call, valuesRefused ? refusedText(refused) : resultReason(call.result, call.station));
    for (const OpenAdvice& a : openAdvice(call)) notice.sentence += a.sentence;
    notice.detail = technical(call);
    return notice;
}

GoodRead goodRead(std::string when, int32_t start, int32_t count, int addressStep) {
    const int64_t last = int64_t{start} + int64_t{count} * addressStep - 1;
    return {std::move(when), start, static_cast<int32_t>(std::max<int64_t>(last, start))};
}

std::string staleReadTip(const FailedCall& call, const std::optional<GoodRead>& lastGood) {
    std::string good = "从未";
    if (lastGood) {
        good = lastGood->when + "，寄存器 " + std::to_string(lastGood->firstRegister);
        if (lastGood->lastRegister != lastGood->firstRegister) {
            good += ".." + std::to_string(lastGood->lastRegister);
        }
    }
    return sentence(call, resultReason(call.result, call.station)) + "\n上次成功读取：" + good +
           "\n" + technical(call);
}

}  // namespace bench
