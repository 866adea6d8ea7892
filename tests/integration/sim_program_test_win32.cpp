// parlex2-sim.exe and parlex2-cli.exe as Windows programs: the simulator serves
// the instrument over Winsock to the program's own link, answers discovery
// enquiries sent to it directly (never broadcast here: under Wine the
// sockets are the host's), refuses what Windows lacks, and both programs
// print the About box's version. Each test serves on an address of its own.
#include <gtest/gtest.h>
#include <windows.h>
#include <tlhelp32.h>

#include <algorithm>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "common/product.h"
#include "common/sockets.h"
#include "common/text.h"
#include "connect/identify.h"
#include "link/instrument_link.h"
#include "support/recording_ui.h"
#include "support/temp_folder.h"

namespace parlex2 {
namespace {

// A program started with `arguments`, its standard output (and error) in a
// file of its own, read back as it grows.
class Program {
 public:
  Program(std::string program, const std::string& arguments) : path_(folder_.File("output")) {
    // The program's Windows path in quotes. A cross build names the programs
    // by their Linux paths, which Wine shows on drive Z:.
    if (program.starts_with('/')) program = "Z:" + program;
    std::replace(program.begin(), program.end(), '/', '\\');
    std::string line = '"' + program + "\" " + arguments;
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE output = CreateFileA(path_.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                &inherit, CREATE_ALWAYS, 0, nullptr);
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = output;
    startup.hStdError = output;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    if (CreateProcessA(nullptr, line.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr,
                       nullptr, &startup, &info_)) {
      CloseHandle(info_.hThread);
    } else {
      info_.hProcess = nullptr;
    }
    CloseHandle(output);
  }
  ~Program() {
    if (info_.hProcess) {
      TerminateProcess(info_.hProcess, 9);
      WaitForSingleObject(info_.hProcess, 5000);
      CloseHandle(info_.hProcess);
    }
  }
  DWORD Id() const { return info_.dwProcessId; }
  void Terminate() { TerminateProcess(info_.hProcess, 9); }

  // Waits until `text` has been printed, at most `timeoutMs`.
  bool WaitFor(const std::string& text, int timeoutMs) {
    for (int waited = 0; Output().find(text) == std::string::npos; waited += 5) {
      if (waited > timeoutMs) return false;
      Sleep(5);
    }
    return true;
  }
  // Waits for the exit and returns the status, -1 after `timeoutMs`.
  int Finish(int timeoutMs) {
    if (WaitForSingleObject(info_.hProcess, timeoutMs) != WAIT_OBJECT_0) return -1;
    DWORD code = 0;
    GetExitCodeProcess(info_.hProcess, &code);
    return static_cast<int>(code);
  }
  // What it printed, its console's CR LF line ends read as LF.
  std::string Output() const {
    std::string out = testing::ReadFileBytes(path_);
    std::erase(out, '\r');
    return out;
  }

 private:
  testing::TempFolder folder_{"parlex2-program"};
  std::string path_;
  PROCESS_INFORMATION info_{};
};

TEST(SimProgramWin32, ServesTheProgramsLinkOverWinsockAndAnswersEnquiriesSentToIt) {
  Program sim(PARLEX2_SIM_PATH, "--tcp 127.0.48.1:10001 --discovery --idn Veltmark,VXM66,777,2.16");
  ASSERT_TRUE(sim.WaitFor("ready\n", 10000)) << sim.Output();
  EXPECT_EQ(sim.Output(), "tcp 127.0.48.1:10001\ndiscovery 65535 30718\nready\n");

  // The program's own connect-and-identify, twice: one client at a time, any
  // number in turn.
  for (int round = 0; round < 2; ++round) {
    InstrumentLink link;
    link.settings.interfaceKind = InterfaceKind::Lan;
    link.settings.ipAddress = "127.0.48.1";
    testing::RecordingUi ui;
    ASSERT_TRUE(ConnectAndIdentify(ui, link, false)) << link.LastError();
    EXPECT_EQ(link.info.idnReply, "Veltmark,VXM66,777,2.16");
    EXPECT_EQ(link.info.versionReply, "VXM66,STD,215,31,46,12");
    ASSERT_GE(link.Send("volt?\n"), 0);
    char line[256];
    EXPECT_GT(link.ReadLine(line, sizeof line), 0);
    EXPECT_STREQ(line, "1.234");
    link.Close();
  }

  // Discovery enquiries sent to the served address; the reply within
  // `timeoutMs` (empty when none came), with the sender's address in `from`.
  SocketsUser sockets;
  std::uint16_t port = 0;
  const SocketHandle udp = UdpOpen("127.0.0.1", port, 0, nullptr);
  std::string from;
  auto ask = [&](std::uint16_t to, const std::string& request, int timeoutMs = 1000) {
    UdpSendTo(udp, "127.0.48.1", to, request.data(), request.size());
    char buffer[1024];
    std::size_t count = 0;
    if (!SocketWaitReadable(udp, static_cast<std::uint32_t>(timeoutMs)) ||
        UdpReceiveFrom(udp, buffer, sizeof buffer, count, from) != DatagramStatus::Received) {
      return std::string();
    }
    return std::string(buffer, count);
  };
  const std::string first = ask(65535, "X");
  EXPECT_EQ(first, "AVeltmark VXM66 777 /10001");
  // Windows sends the reply from the served address. Wine binds a UDP socket
  // given an interface's address to that interface's device and any address,
  // so there it leaves from the route's source, 127.0.0.1 on loopback.
  EXPECT_EQ(from.rfind("127.", 0), 0u) << from;
  const std::string second = ask(30718, std::string("\0\0\0\xF6", 4));
  ASSERT_EQ(second.size(), 30u);
  EXPECT_EQ(static_cast<unsigned char>(second[3]), 0xF7);
  // Anything else is no enquiry and gets no answer; the simulator goes on.
  EXPECT_EQ(ask(65535, "Y", 300), "");
  EXPECT_EQ(ask(30718, std::string(3000, 'X'), 300), "");
  EXPECT_EQ(ask(65535, "X"), first);
  SocketClose(udp);
}

// Command lines that end at once: both programs print the About box's
// version; the simulator refuses what Windows lacks and an address in use.
TEST(SimProgramWin32, OneShotCommandLinesEndWithTheirStatusAndMessage) {
  Program busy(PARLEX2_SIM_PATH, "--tcp 127.0.48.2:10001");
  ASSERT_TRUE(busy.WaitFor("ready\n", 10000)) << busy.Output();
  const std::string version = std::string(" Parlex2 ") + kVersionString + "\n";
  const struct {
    const char* program;
    std::string arguments;
    int status;
    std::string output;  // the whole output when the status is 0, else a part
  } cases[] = {
      {PARLEX2_SIM_PATH, "--version", 0, "parlex2-sim" + version},
      {PARLEX2_PATH, "--version", 0, "parlex2-cli" + version},
      {PARLEX2_SIM_PATH, "--pty COM9", 1, "no pseudo-terminals on Windows"},
      {PARLEX2_SIM_PATH, "--tcp 127.0.48.2:10001", 1, "bind 127.0.48.2"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.program) + " " + c.arguments);
    Program program(c.program, c.arguments);
    EXPECT_EQ(program.Finish(10000), c.status);
    if (c.status == 0) {
      EXPECT_EQ(program.Output(), c.output);
    } else {
      EXPECT_NE(program.Output().find(c.output), std::string::npos) << program.Output();
      EXPECT_EQ(program.Output().find("ready"), std::string::npos);
    }
  }
}

// The command line starts itself once per instrument (CreateProcess), and
// the summary tells each instrument's result apart.
TEST(SimProgramWin32, IdentifiesManyInstrumentsFromOneCommandLine) {
  std::vector<std::unique_ptr<Program>> sims;
  std::string lans;
  for (int n = 1; n <= 4; ++n) {
    const std::string address = "127.0.48." + std::to_string(10 + n);
    sims.push_back(std::make_unique<Program>(
        PARLEX2_SIM_PATH,
        "--tcp " + address + ":10001 --idn Veltmark,VXM66," + std::to_string(500 + n) + ",2.16"));
    ASSERT_TRUE(sims.back()->WaitFor("ready\n", 10000)) << sims.back()->Output();
    lans += " --lan " + address;
  }
  lans += " --lan 127.0.48.15";  // nobody there
  testing::TempFolder folder("parlex2-fleet");
  const std::string summaryPath = folder.File("summary.json");
  Program parent(PARLEX2_PATH, "--json \"" + summaryPath + "\"" + lans + " identify");
  EXPECT_EQ(parent.Finish(60000), 1) << parent.Output();
  const std::string text = testing::ReadFileBytes(summaryPath);
  const auto summary = nlohmann::json::parse(text, nullptr, false);
  ASSERT_TRUE(summary.is_object()) << text << parent.Output();
  ASSERT_EQ(summary["instruments"].size(), 5u) << text;
  for (int n = 1; n <= 4; ++n) {
    const auto& entry = summary["instruments"][n - 1];
    const std::string address = "127.0.48." + std::to_string(10 + n);
    EXPECT_EQ(entry["address"], address);
    EXPECT_EQ(entry["result"], "ok") << entry;
    EXPECT_EQ(entry["identity"]["serialNumber"], std::to_string(500 + n)) << entry;
    EXPECT_NE(parent.Output().find(address + ":   Serial No:  " + std::to_string(500 + n)),
              std::string::npos)
        << parent.Output();
  }
  EXPECT_EQ(summary["instruments"][4]["result"], "failed (exit 1)");
}

// The children are in the parent's job: a parent that is ended takes them
// with it, so none is left talking to an instrument.
TEST(SimProgramWin32, ChildrenEndWithTheirParent) {
  Program first(PARLEX2_SIM_PATH, "--tcp 127.0.48.21:10001 --mode silent");
  Program second(PARLEX2_SIM_PATH, "--tcp 127.0.48.22:10001 --mode silent");
  ASSERT_TRUE(first.WaitFor("ready\n", 10000) && second.WaitFor("ready\n", 10000));
  Program parent(PARLEX2_PATH, "--lan 127.0.48.21 --lan 127.0.48.22 identify");
  // The children are the command line started again. The parent has a child
  // of another kind too: a console program started without a window gets a
  // conhost.exe of its own. And a process only just made has no name yet.
  const std::string_view path = PARLEX2_PATH;
  const std::string_view program = path.substr(path.rfind('/') + 1);
  std::vector<DWORD> children;
  for (int i = 0; i < 500 && children.size() < 2; ++i) {
    children.clear();
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32 entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry)) {
      if (entry.th32ParentProcessID == parent.Id() && EqualNoCase(entry.szExeFile, program)) {
        children.push_back(entry.th32ProcessID);
      }
    }
    CloseHandle(snapshot);
    Sleep(10);
  }
  ASSERT_EQ(children.size(), 2u);
  Sleep(1000);  // both children past their start, talking to the instruments
  std::vector<HANDLE> handles;
  for (DWORD id : children) handles.push_back(OpenProcess(SYNCHRONIZE, FALSE, id));
  parent.Terminate();
  for (HANDLE h : handles) {
    ASSERT_TRUE(h);
    EXPECT_EQ(WaitForSingleObject(h, 5000), WAIT_OBJECT_0) << "a child outlived its parent";
    CloseHandle(h);
  }
}

}  // namespace
}  // namespace parlex2
