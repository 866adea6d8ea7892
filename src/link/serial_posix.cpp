// COM ports on POSIX systems: a tty device such as /dev/ttyUSB0 in raw 8N1
// with DTR and RTS raised and no flow control, read one byte at a time with a
// per-byte time-out.
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "common/clock.h"
#include "common/system_error.h"
#include "link/transport.h"

namespace parlex2 {
namespace {

bool BaudConstant(std::uint32_t baudRate, speed_t& speed) {
  switch (baudRate) {
    case 1200:
      speed = B1200;
      return true;
    case 2400:
      speed = B2400;
      return true;
    case 4800:
      speed = B4800;
      return true;
    case 9600:
      speed = B9600;
      return true;
    case 19200:
      speed = B19200;
      return true;
    case 38400:
      speed = B38400;
      return true;
    case 57600:
      speed = B57600;
      return true;
    case 115200:
      speed = B115200;
      return true;
    default:
      return false;
  }
}

class SerialTransport final : public Transport {
 public:
  explicit SerialTransport(int fd) : fd_(fd) {}
  ~SerialTransport() override {
    tcflush(fd_, TCIOFLUSH);
    close(fd_);
  }

  TransportStatus Write(std::string_view bytes) override {
    std::size_t done = 0;
    while (done < bytes.size()) {
      ssize_t n = write(fd_, bytes.data() + done, bytes.size() - done);
      if (n < 0) {
        if (errno == EINTR) continue;
        if (errno == EAGAIN && WaitWritable()) continue;
        return TransportStatus::Failed;
      }
      done += static_cast<std::size_t>(n);
    }
    return TransportStatus::Ok;
  }

  // Stops after size - 1 bytes, so an instrument that keeps sending cannot
  // hold the caller longer than one time-out per byte of the buffer; a
  // shorter bound would cut ordinary replies at the lowest baud rates.
  TransportStatus ReadLine(char* buffer, std::size_t size, std::size_t& length) override {
    std::memset(buffer, 0, size);
    std::size_t stored = 0;
    TransportStatus status = TransportStatus::Ok;
    while (stored + 1 < size) {
      unsigned char c = 0;
      status = ReadByteWaiting(readTimeout_, c);
      if (status != TransportStatus::Ok) break;
      buffer[stored++] = static_cast<char>(c);
      if (c == '\n') break;
    }
    length = CutAtCarriageReturn(buffer, stored);
    return status;
  }

  TransportStatus ReadByte(unsigned char& byte) override {
    if (broken_) return TransportStatus::Failed;
    pollfd p{fd_, POLLIN, 0};
    int ready = poll(&p, 1, 0);
    if (ready < 0)
      return errno == EINTR ? TransportStatus::NothingWaiting : TransportStatus::Failed;
    if (ready == 0) return TransportStatus::NothingWaiting;
    return TakeByte(p.revents, byte);
  }

  void WaitReadable(std::uint32_t milliseconds) override {
    if (broken_) return;
    pollfd p{fd_, POLLIN, 0};
    poll(&p, 1, WaitMsForSystem(milliseconds));
  }

  void SetReadTimeout(std::uint32_t milliseconds) override { readTimeout_ = milliseconds; }

 private:
  TransportStatus TakeByte(short revents, unsigned char& byte) {
    if (revents & POLLIN) {
      ssize_t n = read(fd_, &byte, 1);
      if (n == 1) return TransportStatus::Ok;
      if (n < 0 && (errno == EAGAIN || errno == EINTR)) return TransportStatus::NothingWaiting;
    }
    // Hang-up, error, or a read that returned nothing: the device has gone.
    broken_ = true;
    return TransportStatus::Failed;
  }

  // One byte, waiting at most `milliseconds` for it.
  TransportStatus ReadByteWaiting(std::uint32_t milliseconds, unsigned char& byte) {
    if (broken_) return TransportStatus::Failed;
    pollfd p{fd_, POLLIN, 0};
    int ready;
    do {
      ready = poll(&p, 1, WaitMsForSystem(milliseconds));
    } while (ready < 0 && errno == EINTR);
    if (ready < 0) return TransportStatus::Failed;
    if (ready == 0) return TransportStatus::TimedOut;
    const TransportStatus status = TakeByte(p.revents, byte);
    return status == TransportStatus::NothingWaiting ? TransportStatus::TimedOut : status;
  }

  bool WaitWritable() {
    pollfd p{fd_, POLLOUT, 0};
    return poll(&p, 1, 1000) > 0;
  }

  int fd_;
  std::uint32_t readTimeout_ = kDefaultReadTimeoutMs;
  bool broken_ = false;
};

}  // namespace

TransportStatus OpenSerialTransport(const std::string& port, std::uint32_t baudRate,
                                    std::unique_ptr<Transport>& transport, std::string& error) {
  auto fail = [&](const char* what, int code) {
    error = port + ": " + what + ": " + SystemErrorText(code);
    return TransportStatus::Failed;
  };
  speed_t speed;
  if (!BaudConstant(baudRate, speed)) {
    error = port + ": unsupported baud rate " + std::to_string(baudRate);
    return TransportStatus::Failed;
  }
  int fd = open(port.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return fail("open", errno);
  // Not shared: a port this program holds is busy for every other program.
  if (ioctl(fd, TIOCEXCL) != 0 || flock(fd, LOCK_EX | LOCK_NB) != 0) {
    int code = errno;
    close(fd);
    return fail("the port is busy", code);
  }
  termios tio{};
  if (tcgetattr(fd, &tio) != 0) {
    int code = errno;
    close(fd);
    return fail("not a serial port", code);
  }
  cfmakeraw(&tio);
  tio.c_cflag &= ~(CSIZE | PARENB | CSTOPB | CRTSCTS);
  tio.c_cflag |= CS8 | CREAD | CLOCAL;
  tio.c_iflag &= ~(IXON | IXOFF | IXANY);
  tio.c_cc[VMIN] = 0;
  tio.c_cc[VTIME] = 0;
  cfsetispeed(&tio, speed);
  cfsetospeed(&tio, speed);
  if (tcsetattr(fd, TCSANOW, &tio) != 0) {
    int code = errno;
    close(fd);
    return fail("settings refused", code);
  }
  // DTR and RTS on. A pseudo-terminal has no modem lines; that is no error.
  int lines = TIOCM_DTR | TIOCM_RTS;
  ioctl(fd, TIOCMBIS, &lines);
  tcflush(fd, TCIOFLUSH);
  transport = std::make_unique<SerialTransport>(fd);
  return TransportStatus::Ok;
}

}  // namespace parlex2
