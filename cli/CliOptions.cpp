#include "cli/CliOptions.h"

#include <algorithm>
#include <charconv>
#include <functional>
#include <map>

#include "app/MainForm.h"

namespace {

constexpr const char* kProgram = "zentavo-dl";

// The quality list of the listing tab, in its order.
const std::vector<std::string> kQualities = {"1080p", "720p", "480p", "360p"};

std::string Trim(const std::string& aText) {
  size_t begin = aText.find_first_not_of(" \t");
  if (begin == std::string::npos) return {};
  size_t end = aText.find_last_not_of(" \t");
  return aText.substr(begin, end - begin + 1);
}

// A whole decimal number without sign; false for anything else or one too large for an int.
bool ParseNumber(const std::string& aText, int& aValue) {
  if (aText.empty()) return false;
  auto [end, error] = std::from_chars(aText.data(), aText.data() + aText.size(), aValue);
  return error == std::errc() && end == aText.data() + aText.size() && aText[0] != '-' && aText[0] != '+';
}

std::string Lower(std::string aText) {
  std::transform(aText.begin(), aText.end(), aText.begin(), [](unsigned char c) { return std::tolower(c); });
  return aText;
}

using TValueSetter = std::function<std::string(TCliOptions&, const std::string&)>;  // returns an error
using TFlagSetter = std::function<void(TCliOptions&)>;

std::string SetQuality(TCliOptions& aOptions, const std::string& aValue) {
  auto found = std::find(kQualities.begin(), kQualities.end(), Lower(aValue));
  if (found == kQualities.end()) return "清晰度只能是 1080p、720p、480p 或 360p：" + aValue;
  aOptions.QualityIndex = static_cast<int>(found - kQualities.begin());
  return {};
}

std::string SetFolder(TCliOptions& aOptions, const std::string& aValue) {
  if (aValue.empty()) return "保存位置不能为空";
  aOptions.SaveFolder = aValue;
  return {};
}

std::string SetParts(TCliOptions& aOptions, const std::string& aValue) {
  std::string error;
  if (!ParsePartList(aValue, aOptions.Parts, error)) return error;
  return {};
}

std::string SetJobs(TCliOptions& aOptions, const std::string& aValue) {
  int jobs = 0;
  const auto& choices = JobChoices();
  if (!ParseNumber(aValue, jobs) || std::find(choices.begin(), choices.end(), jobs) == choices.end())
    return "同时下载的任务数只能是 1 到 10、15 或 20：" + aValue;
  aOptions.Jobs = jobs;
  return {};
}

std::string SetConnections(TCliOptions& aOptions, const std::string& aValue) {
  int connections = 0;
  if (!ParseNumber(aValue, connections) || connections < 1 || connections > 10)
    return "每个任务的线程数只能是 1 到 10：" + aValue;
  aOptions.Connections = connections;
  return {};
}

const std::map<std::string, TValueSetter>& ValueOptions() {
  static const std::map<std::string, TValueSetter> options = {
      {"--quality", SetQuality}, {"--folder", SetFolder},           {"--parts", SetParts},
      {"--jobs", SetJobs},       {"--connections", SetConnections},
  };
  return options;
}

const std::map<std::string, TFlagSetter>& FlagOptions() {
  static const std::map<std::string, TFlagSetter> options = {
      {"--no-numbers", [](TCliOptions& o) { o.AddNumbers = false; }},
      {"--numbers-only", [](TCliOptions& o) { o.NumbersOnly = true; }},
      {"--comments", [](TCliOptions& o) { o.Comments = TCommentChoice::ccAlso; }},
      {"--comments-only", [](TCliOptions& o) { o.Comments = TCommentChoice::ccOnly; }},
      {"--no-merge", [](TCliOptions& o) { o.Merge = false; }},
      {"--list", [](TCliOptions& o) { o.ListOnly = true; }},
      {"--help", [](TCliOptions& o) { o.ShowHelp = true; }},
      {"-h", [](TCliOptions& o) { o.ShowHelp = true; }},
      {"--version", [](TCliOptions& o) { o.ShowVersion = true; }},
  };
  return options;
}

// The error of one argument (with its value, taken from aNext when it is not written after "=").
std::string ParseOption(const std::string& aArg, const std::vector<std::string>& aArgs, size_t& aNext,
                        TCliOptions& aOptions, bool& aCommentsSeen) {
  size_t equals = aArg.find('=');
  std::string name = aArg.substr(0, equals);
  if (auto flag = FlagOptions().find(name); flag != FlagOptions().end()) {
    if (equals != std::string::npos) return "选项 " + name + " 不带参数";
    if (name == "--comments" || name == "--comments-only") {
      if (aCommentsSeen) return "--comments 和 --comments-only 只能用一个";
      aCommentsSeen = true;
    }
    flag->second(aOptions);
    return {};
  }
  auto option = ValueOptions().find(name);
  if (option == ValueOptions().end()) return "未知选项：" + aArg;
  std::string value;
  if (equals != std::string::npos) {
    value = aArg.substr(equals + 1);
  } else {
    if (aNext >= aArgs.size()) return "选项 " + name + " 缺少参数";
    value = aArgs[aNext++];
  }
  return option->second(aOptions, value);
}

}  // namespace

bool ParsePartList(const std::string& aText, std::vector<TPartRange>& aRanges, std::string& aError) {
  std::vector<TPartRange> ranges;
  size_t begin = 0;
  while (begin <= aText.size()) {
    size_t end = aText.find(',', begin);
    if (end == std::string::npos) end = aText.size();
    std::string item = Trim(aText.substr(begin, end - begin));
    size_t dash = item.find('-', 1);
    TPartRange range{};
    bool ok = dash == std::string::npos
                  ? ParseNumber(item, range.First) && (range.Last = range.First, true)
                  : ParseNumber(Trim(item.substr(0, dash)), range.First) && ParseNumber(Trim(item.substr(dash + 1)), range.Last);
    if (!ok || range.First < 1 || range.Last < range.First) {
      aError = "视频序号列表不正确：" + aText + "（例如 1,3-5）";
      return false;
    }
    ranges.push_back(range);
    begin = end + 1;
  }
  aRanges = std::move(ranges);
  return true;
}

bool PartChosen(const std::vector<TPartRange>& aRanges, int aNumber) {
  if (aRanges.empty()) return true;
  return std::any_of(aRanges.begin(), aRanges.end(),
                     [aNumber](const TPartRange& r) { return aNumber >= r.First && aNumber <= r.Last; });
}

const std::vector<int>& JobChoices() {
  static const std::vector<int> choices = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 15, 20};
  return choices;
}

TParsedCommandLine ParseCommandLine(const std::vector<std::string>& aArgs) {
  TParsedCommandLine result;
  TCliOptions& options = result.Options;
  bool commentsSeen = false;
  bool optionsEnded = false;
  std::vector<std::string> addresses;
  for (size_t next = 0; next < aArgs.size();) {
    const std::string& arg = aArgs[next++];
    if (!optionsEnded && arg == "--") {
      optionsEnded = true;
    } else if (!optionsEnded && arg.size() > 1 && arg[0] == '-') {
      result.Error = ParseOption(arg, aArgs, next, options, commentsSeen);
      if (!result.Error.empty()) return result;
    } else {
      addresses.push_back(arg);
    }
  }
  if (options.ShowHelp || options.ShowVersion) return result;
  if (addresses.empty())
    result.Error = "缺少视频地址";
  else if (addresses.size() > 1)
    result.Error = "只能给一个视频地址，多出：" + addresses[1];
  else
    options.PageAddress = addresses[0];
  return result;
}

std::string UsageText() {
  return std::string("用法：") + kProgram + " [选项] 视频地址\n" +
         "解析视频地址，下载各个视频（分段视频下载后自动合并），也可下载弹幕（XML）。\n"
         "\n"
         "选项：\n"
         "  --quality 1080p|720p|480p|360p  优先解析的清晰度（默认 1080p）\n"
         "  --folder 目录           保存位置（默认当前目录）\n"
         "  --parts 列表            只下载这些序号的视频，例如 1,3-5（默认全部）\n"
         "  --no-numbers            文件名前不添加序号\n"
         "  --numbers-only          文件名用序号代替\n"
         "  --comments              同时下载弹幕（XML）\n"
         "  --comments-only         只下载弹幕（XML），不下载视频\n"
         "  --jobs N                同时下载的最大任务数：1-10、15、20（默认 3）\n"
         "  --connections N         每个任务线程数：1-10（默认 5）\n"
         "  --no-merge              分段视频下载后不合并\n"
         "  --list                  只列出视频，不下载\n"
         "  -h, --help              显示本帮助\n"
         "  --version               显示版本\n"
         "\n"
         "退出状态：0 全部保存成功；1 有视频或弹幕未能保存；2 用法错误。\n"
         "按 Ctrl-C 停止下载：已完成的分段保留，未完成的临时文件删除。\n";
}

std::string VersionText() { return std::string(kProgram) + " (" + TForm1::ApplicationTitle + ") " + TForm1::Version + "\n"; }
