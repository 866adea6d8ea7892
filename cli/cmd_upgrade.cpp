// parlex2 upgrade FILE: the firmware upgrade of the Instrument menu on a
// terminal. The instrument is connected and identified first, as the window
// is when its menu item is enabled; then the same command flow runs, with its
// messages printed, its questions asked at the prompt (or answered yes with
// --yes), the Proposed Operation shown as text, and the worker's progress as
// a bar on a terminal or as plain lines otherwise.
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <iostream>
#include <mutex>
#include <string>

#include "cli/child_process.h"
#include "cli/cli.h"
#include "cli/identity_json.h"
#include "common/clock.h"
#include "common/shell_state.h"
#include "connect/identify.h"
#include "link/instrument_link.h"
#include "upgrade/firmware_list_text.h"
#include "upgrade/upgrade_command.h"
#include "upgrade/upgrade_worker.h"

namespace parlex2::cli {
namespace {

// Refused before anything was written: model, version, blocked list, the user
// declined, no usable load lines.
constexpr int kExitRefused = 3;

struct UpgradeOptions {
  std::string file;
  bool yes = false;
  bool list = false;
};

// Messages to standard error; questions at the prompt on standard input
// (end of input answers no), or yes with --yes.
class PromptUi final : public UserInterface {
 public:
  PromptUi(bool yes, bool listOnly) : yes_(yes), listOnly_(listOnly) {}

  MessageAnswer ShowMessage(std::string_view text, std::string_view caption, MessageIcon,
                            MessageButtons buttons, bool) override {
    std::string body(text);
    while (!body.empty() && body.back() == '\n') body.pop_back();
    std::cerr << caption << ": " << body << std::endl;
    SendStatus("message", std::string(caption) + ": " + body);
    if (buttons == MessageButtons::Ok) return MessageAnswer::Ok;
    const bool okCancel = buttons == MessageButtons::OkCancel;
    // Listing writes nothing, so the warning before the list needs no answer.
    if (okCancel && listOnly_) return MessageAnswer::Ok;
    return Ask(okCancel ? "Continue?" : "Yes or no?")
               ? (okCancel ? MessageAnswer::Ok : MessageAnswer::Yes)
               : (okCancel ? MessageAnswer::Cancel : MessageAnswer::No);
  }

  bool Ask(const char* question) {
    std::cerr << question << " [y/N] " << std::flush;
    if (yes_) {
      std::cerr << "yes (--yes)" << std::endl;
      return true;
    }
    std::string answer;
    if (!std::getline(std::cin, answer)) {
      std::cerr << "no (end of input)" << std::endl;
      return false;
    }
    return !answer.empty() && (answer[0] == 'y' || answer[0] == 'Y');
  }

 private:
  bool yes_;
  bool listOnly_;
};

// The worker's reports, printed as they come (on the worker's thread; the
// main thread only waits meanwhile).
class ConsoleProgress final : public UpgradeProgress {
 public:
  ConsoleProgress(bool terminal, std::uint64_t totalBytes)
      : terminal_(terminal), totalBytes_(totalBytes) {}

  void Status(std::string text) override {
    SendStatus("status", text);
    Line(text);
  }
  void Progress(int percent) override {
    percent_ = percent;
    if (StatusChannelOpen()) {
      // Many instruments: the parent shows it on the instrument's status line.
      if (percent != sentPercent_) SendStatus("progress", std::to_string(percent));
      sentPercent_ = percent;
    } else if (terminal_) {
      DrawBar();
    } else if (percent / 10 != lastTenth_) {
      lastTenth_ = percent / 10;
      std::cout << percent << "%" << std::endl;
    }
  }
  void Log(std::string text) override { Line(text); }
  void Sending(bool active) override {
    programming_ = active;
    if (active) {
      programmingStart_ = std::chrono::steady_clock::now();
    } else {
      // The bar stays on screen, ended, above the line that says how the
      // sending went.
      if (barShown_) std::cout << "\n";
      barShown_ = false;
    }
  }
  void Finished() override {
    if (barShown_) std::cout << "\n";
    std::cout << std::flush;
    std::lock_guard<std::mutex> lock(mutex_);
    finished_ = true;
    done_.notify_all();
  }

  void WaitFinished() {
    std::unique_lock<std::mutex> lock(mutex_);
    done_.wait(lock, [this] { return finished_; });
  }

 private:
  void Line(const std::string& text) {
    if (barShown_) std::cout << "\r\x1b[K";
    barShown_ = false;
    std::cout << text << std::endl;
    if (terminal_ && programming_) DrawBar();
  }

  void DrawBar() {
    constexpr int kWidth = 30;
    const int filled = percent_ * kWidth / 100;
    std::string bar = "\r[" + std::string(static_cast<std::size_t>(filled), '#') +
                      std::string(static_cast<std::size_t>(kWidth - filled), ' ') + "] ";
    char tail[96];
    std::snprintf(tail, sizeof tail, "%3d%%", percent_);
    bar += tail;
    if (programming_ && totalBytes_ > 0) {
      const double seconds =
          std::chrono::duration<double>(std::chrono::steady_clock::now() - programmingStart_)
              .count();
      const double bytes = static_cast<double>(totalBytes_) * percent_ / 100.0;
      if (seconds > 0.2 && bytes > 0) {
        const double rate = bytes / seconds;
        const double left = (static_cast<double>(totalBytes_) - bytes) / rate;
        std::snprintf(tail, sizeof tail, "  %.1f kB/s  %d:%02d left", rate / 1000.0,
                      static_cast<int>(left) / 60, static_cast<int>(left) % 60);
        bar += tail;
      }
    }
    std::cout << bar << "\x1b[K" << std::flush;
    barShown_ = true;
  }

  bool terminal_;
  std::uint64_t totalBytes_;
  int percent_ = 0;
  int lastTenth_ = -1;
  int sentPercent_ = -1;
  bool barShown_ = false;
  bool programming_ = false;
  std::chrono::steady_clock::time_point programmingStart_;
  std::mutex mutex_;
  std::condition_variable done_;
  bool finished_ = false;
};

class ConsoleFrontEnd final : public UpgradeFrontEnd {
 public:
  ConsoleFrontEnd(PromptUi& ui, InstrumentLink& link, const UpgradeOptions& options)
      : ui_(ui), link_(link), options_(options) {}

  bool ShowFirmwareList(const FirmwareList& list, const std::string&, bool acceptBlocked) override {
    std::cout << FirmwareListText(list, StandardOutputIsTerminal()) << std::flush;
    listed_ = true;
    if (acceptBlocked) {
      std::cerr << "The upgrade cannot be accepted: a file is missing or a sector cannot be "
                   "written."
                << std::endl;
      return false;
    }
    if (options_.list) return false;
    return ui_.Ask("Accept the proposed operation?");
  }

  void RunProgress(UpgradeDescriptor& descriptor) override {
    std::uint64_t total = 0;
    if (descriptor.loadTable) {
      for (const LoadEntry& entry : descriptor.loadTable->entries) {
        if (entry.listed && entry.found) total += entry.fileInfo.size;
      }
    }
    ConsoleProgress progress(StandardOutputIsTerminal(), total);
    UpgradeWorkerThread worker;
    if (!worker.Start(descriptor, link_, progress)) {
      static_cast<UserInterface&>(ui_).ShowMessage("Failed to start the firmware upgrade thread!",
                                                   kUpgradeCaption, MessageIcon::Information,
                                                   MessageButtons::Ok);
      return;
    }
    progress.WaitFinished();
    worker.Join();
  }

  bool Listed() const { return listed_; }

 private:
  PromptUi& ui_;
  InstrumentLink& link_;
  const UpgradeOptions& options_;
  bool listed_ = false;
};

int ExitStatus(const UpgradeResult& result, const UpgradeOptions& options) {
  switch (result.outcome) {
    case UpgradeOutcome::Succeeded:
      return kExitOk;
    case UpgradeOutcome::Failed:
    case UpgradeOutcome::NoInstrument:
      return kExitConnection;
    case UpgradeOutcome::Cancelled:
      return kExitRefused;
    case UpgradeOutcome::Refused:
      break;
  }
  switch (result.reason) {
    case RefusalReason::ListDeclined:
      if (options.list) return kExitOk;
      break;
    case RefusalReason::TooManyEntries:
      PrintError("the upgrade descriptor has 50 or more load lines; nothing was done");
      break;
    case RefusalReason::NoListMemory:
      PrintError("out of memory while building the list of files");
      break;
    default:
      break;
  }
  return kExitRefused;
}

int RunUpgrade(Context& ctx, const UpgradeOptions& options) {
  InstrumentLink link;
  if (int status = ctx.PrepareLink(link)) return status;
  PromptUi ui(options.yes, options.list);
  // This identification is the command's own: it is not asked again.
  link.info.connected = ConnectAndIdentify(ui, link, false);
  ReportIdentityToParent(link.settings, link.info);
  if (!link.portOpen()) return kExitConnection;

  ShellState state;  // the command line has no poller and no script
  ConsoleFrontEnd frontEnd(ui, link, options);
  UpgradeCommandContext context{
      ui, frontEnd, link, state, SystemClock(), SystemFileFinder(), options.file, true};
  const UpgradeResult result = RunUpgradeCommand(context);
  link.Close();
  return ExitStatus(result, options);
}

const bool added = RegisterCommand("upgrade", [](CLI::App& app, Context& ctx) {
  static UpgradeOptions options;
  auto* sub = app.add_subcommand(
      "upgrade",
      "upgrade the instrument's firmware from an upgrade descriptor (.upg, .upx) or a main hex "
      "file; exit 0 upgraded, 1 instrument failed or not found, 2 usage (no such file), 3 "
      "refused");
  sub->add_option("FILE", options.file, "upgrade descriptor or main hex file")
      ->required()
      ->check(FileToRead());
  sub->add_flag("--yes,-y", options.yes, "answer yes to every question");
  sub->add_flag("--list", options.list,
                "show the Proposed Operation and stop (exit 3 when it could not be accepted)");
  sub->callback([&ctx] { ctx.exitCode = RunUpgrade(ctx, options); });
});

}  // namespace
}  // namespace parlex2::cli
