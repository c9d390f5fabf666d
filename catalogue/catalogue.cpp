#include "catalogue/catalogue.h"

#include <cassert>
#include <cstdio>
#include <stdexcept>
#include <string_view>

#include "platform/codec.h"

namespace kelta {
namespace {

// The texts are kept as characters here; the bytes of each column come from the codec.
static_assert(std::string_view("读").size() == 3, "this file must be compiled as UTF-8");

// Rows are message numbers; columns English, Simplified Chinese, Traditional Chinese.
// clang-format off
constexpr const char* kTexts[kMessageCount][kLanguageCount] = {
    {"KELTA Technology Corp.   www.kelta.example", "KELTA股份有限公司   www.kelta.example",
     "KELTA股份有限公司   www.kelta.example"},  // 0
    {"KELTA QM880-4R Reader Config V1.70-01", "KELTA QM880-4R 读卡机工具程式 V1.70-01",
     "KELTA QM880-4R 讀卡機工具程式 V1.70-01"},  // 1
    {"Start Scan Reader!", "请先扫描读卡机!", "請先掃描讀卡機!"},  // 2
    {"Cancel Read TAG", "取消读TAG", "取消讀TAG"},  // 3
    {"ID", "编号", "編號"},  // 4
    {"BaudRate", "通讯速度", "通訊速度"},  // 5
    {"Set Reader Baud Rate", "设定通讯速度", "設定通訊速度"},  // 6
    {"Read TAG", "读取TAG", "讀取TAG"},  // 7
    {"Factory Default", "出厂预设", "出廠預設"},  // 8
    {"Factory Test", "出厂测试", "出廠測試"},  // 9
    {"Factory Setting", "出厂设定", "出廠設定"},  // 10
    {"Access PIN", "通关密码", "通關密碼"},  // 11
    {"Default", "预设", "預設"},  // 12
    {"S/N Set", "序号设定", "序號設定"},  // 13
    {"Exit", "结束", "結束"},  // 14
    {"TAG ID", "TAG ID", "TAG ID"},  // 15
    {"Open COM", "开启串口", "開啟串口"},  // 16
    {"Error", "错误", "錯誤"},  // 17
    {"Scan Reader", "扫描读卡机", "掃描讀卡機"},  // 18
    {"S/N", "序号", "序號"},  // 19
    {"No", "流水号", "流水號"},  // 20
    {"VER", "版本", "版本"},  // 21
    {"Scan COM", "扫描串口", "掃描串口"},  // 22
    {"Get Reader Info Ok. (COM", "读取读卡机资讯完成. (串口", "讀取讀卡機資訊完成. (串口"},  // 23
    {"Get Reader Info Error. (COM", "读取读卡机资讯错误. (串口", "讀取讀卡機資訊錯誤. (串口"},  // 24
    {"Reader Not Find", "读卡机没有连线", "讀卡機沒有連線"},  // 25
    {"Set Reader ID", "设定读卡机编号", "設定讀卡機編號"},  // 26
    {"Set Reader ID Ok", "设定读卡机编号完成", "設定讀卡機編號完成"},  // 27
    {"Set Reader ID Error", "设定读卡机编号错误", "設定讀卡機編號錯誤"},  // 28
    {"Set Reader No", "设定读卡机流水号", "設定讀卡機流水號"},  // 29
    {"Set Reader No Ok", "设定读卡机流水号完成", "設定讀卡機流水號完成"},  // 30
    {"Set Reader No Error", "设定读卡机流水号错误", "設定讀卡機流水號錯誤"},  // 31
    {"Set Reader BaudRate", "设定读卡机通讯速度", "設定讀卡機通訊速度"},  // 32
    {"Set Reader BaudRate Ok", "设定读卡机通讯速度完成", "設定讀卡機通訊速度完成"},  // 33
    {"Set Reader BaudRate Error", "设定读卡机通讯速度错误", "設定讀卡機通訊速度錯誤"},  // 34
    {"Set Reader Mode", "设定读卡机模式", "設定讀卡機模式"},  // 35
    {"Set Reader Mode Ok", "设定读卡机模式完成", "設定讀卡機模式完成"},  // 36
    {"Set Reader Mode Error", "设定读卡机模式错误", "設定讀卡機模式錯誤"},  // 37
    {"Set Default", "设定预设模式", "設定預設模式"},  // 38
    {"Set Default Ok", "设定预设模式完成", "設定預設模式完成"},  // 39
    {"Set Default Error", "设定预设模式错误", "設定預設模式錯誤"},  // 40
    {"Set Factory Test", "设定出厂测试模式", "設定出廠測試模式"},  // 41
    {"Set Factory Test Ok", "设定出厂测试模式完成", "設定出廠測試模式完成"},  // 42
    {"Set Factory Test Error", "设定出厂测试模式错误", "設定出廠測試模式錯誤"},  // 43
    {"Test Command", "指令测试", "指令測試"},  // 44
    {"Test Command Ok", "指令测试完成", "指令測試完成"},  // 45
    {"Test Command Error", "指令测试错误", "指令測試錯誤"},  // 46
    {"Set Address", "设定位址", "設定位址"},  // 47
    {"Set Address Ok", "设定位址完成", "設定位址完成"},  // 48
    {"Set Address Error", "设定位址错误", "設定位址錯誤"},  // 49
    {"Set Freq", "设定频率", "設定頻率"},  // 50
    {"Set Freq Ok", "设定频率完成", "設定頻率完成"},  // 51
    {"Set Freq Error", "设定频率错误", "設定頻率錯誤"},  // 52
    {"Set Channel", "设定通道", "設定通道"},  // 53
    {"Set Channel Ok", "设定通道完成", "設定通道完成"},  // 54
    {"Set Channel Error", "设定通道错误", "設定通道錯誤"},  // 55
    {"Reader Reset", "读卡机重开", "讀卡機重開"},  // 56
    {"Reader Reset Ok", "读卡机重开完成", "讀卡機重開完成"},  // 57
    {"TReader Reset Error", "读卡机重开错误", "讀卡機重開錯誤"},  // 58
    {"Set Reader Mode", "设定读卡机模式", "設定讀卡機模式"},  // 59
    {"Set Reader Mode Ok", "设定读卡机模式完成", "設定讀卡機模式完成"},  // 60
    {"Set Reader Mode Error", "设定读卡机模式错误", "設定讀卡機模式錯誤"},  // 61
};
// clang-format on

TextEncoding EncodingOf(int language) {
  switch (language) {
    case 1:
      return TextEncoding::Gb2312;
    case 2:
      return TextEncoding::Big5;
    default:
      return TextEncoding::Ascii;
  }
}

}  // namespace

MessageTable::MessageTable() {
  for (int message = 0; message < kMessageCount; ++message) {
    for (int language = 0; language < kLanguageCount; ++language) {
      std::optional<std::string> bytes =
          EncodeText(kTexts[message][language], EncodingOf(language));
      if (!bytes) {
        // The table is fixed: a text its column cannot hold is a fault of the program,
        // never something to paper over with a substitute character.
        std::fprintf(stderr, "message %d, language %d cannot be encoded\n", message, language);
        assert(false && "catalogue text not encodable");
        throw std::logic_error("catalogue text not encodable");
      }
      entries_[message][language] = std::move(*bytes);
    }
  }
}

const std::string& MessageTable::Entry(int message, int language) const {
  assert(message >= 0 && message < kMessageCount);
  assert(language >= 0 && language < kLanguageCount);
  return entries_[message][language];
}

std::string MessageTable::Text(int message, int language) const {
  return DisplayText(Entry(message, language), language);
}

std::string_view SourceText(int message, int language) {
  assert(message >= 0 && message < kMessageCount);
  assert(language >= 0 && language < kLanguageCount);
  return kTexts[message][language];
}

std::string DisplayText(const std::string& entry, int language) {
  return DecodeText(entry, EncodingOf(language));
}

const MessageTable& Catalogue() {
  static const MessageTable table;
  return table;
}

}  // namespace kelta
