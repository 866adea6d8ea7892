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
#include "link/errno_text.h"
#include "link/lan.h"
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

  int Write(std::string_view bytes) override {
    std::size_t done = 0;
    while (done < bytes.size()) {
      ssize_t n = write(fd_, bytes.data() + done, bytes.size() - done);
      if (n < 0) {
        if (errno == EINTR) continue;
        if (errno == EAGAIN && WaitWritable()) continue;
        break;
      }
      done += static_cast<std::size_t>(n);
    }
    return static_cast<int>(done);
  }

  // Stops after size - 1 bytes, so an instrument that keeps sending cannot
  // hold the caller longer than one time-out per byte of the buffer; a
  // shorter bound would cut ordinary replies at the lowest baud rates.
  int ReadLine(char* buffer, std::size_t size) override {
    std::memset(buffer, 0, size);
    std::size_t stored = 0;
    while (stored + 1 < size) {
      int c = ReadByteWaiting(readTimeout_);
      if (c < 0) break;
      buffer[stored++] = static_cast<char>(c);
      if (c == '\n') break;
    }
    if (char* cr = static_cast<char*>(std::memchr(buffer, '\r', stored))) {
      std::memset(cr, 0, stored - static_cast<std::size_t>(cr - buffer));
      stored = static_cast<std::size_t>(cr - buffer);
    }
    return static_cast<int>(std::strlen(buffer));
  }

  int ReadByte() override {
    if (broken_) return -1;
    pollfd p{fd_, POLLIN, 0};
    int ready = poll(&p, 1, 0);
    if (ready < 0) return errno == EINTR ? -2 : -1;
    if (ready == 0) return -2;
    return TakeByte(p.revents);
  }

  void WaitReadable(std::uint32_t milliseconds) override {
    if (broken_) return;
    pollfd p{fd_, POLLIN, 0};
    poll(&p, 1, WaitMsForSystem(milliseconds));
  }

  void SetReadTimeout(std::uint32_t milliseconds) override { readTimeout_ = milliseconds; }
  bool WriteReturnsCount() const override { return true; }

 private:
  int TakeByte(short revents) {
    if (revents & POLLIN) {
      unsigned char byte;
      ssize_t n = read(fd_, &byte, 1);
      if (n == 1) return byte;
      if (n < 0 && (errno == EAGAIN || errno == EINTR)) return -2;
    }
    // Hang-up, error, or a read that returned nothing: the device has gone.
    broken_ = true;
    return -1;
  }

  // One byte, waiting at most `milliseconds` for it; -1 when none came.
  int ReadByteWaiting(std::uint32_t milliseconds) {
    if (broken_) return -1;
    pollfd p{fd_, POLLIN, 0};
    int ready;
    do {
      ready = poll(&p, 1, WaitMsForSystem(milliseconds));
    } while (ready < 0 && errno == EINTR);
    if (ready <= 0) return -1;
    int c = TakeByte(p.revents);
    return c >= 0 ? c : -1;
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

std::unique_ptr<Transport> OpenSerialTransport(const std::string& port, std::uint32_t baudRate,
                                               std::string* error) {
  auto fail = [&](const char* what, int code) -> std::unique_ptr<Transport> {
    if (error) *error = port + ": " + what + ": " + ErrnoText(code);
    return nullptr;
  };
  speed_t speed;
  if (!BaudConstant(baudRate, speed)) {
    if (error) *error = port + ": unsupported baud rate " + std::to_string(baudRate);
    return nullptr;
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
  return std::make_unique<SerialTransport>(fd);
}

}  // namespace parlex2
