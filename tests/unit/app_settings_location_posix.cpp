#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>

#include "app/settings.h"

namespace parlex2 {
namespace {

// Sets or clears an environment variable for one test, restoring it after.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    Set(name, value);
  }
  ~ScopedEnv() { Set(name_, old_ ? old_->c_str() : nullptr); }

 private:
  static void Set(const char* name, const char* value) {
    value ? setenv(name, value, 1) : unsetenv(name);
  }
  const char* name_;
  std::optional<std::string> old_;
};

TEST(SettingsLocationTest, XdgConfigHomeThenHomeConfigThenTmp) {
  struct Case {
    const char* xdg;
    const char* home;
    const char* path;
  };
  const Case cases[] = {
      {"/x/config", "/home/ann", "/x/config/Veltmark/Parlexer/Parlexer.ini"},
      {"", "/home/ann", "/home/ann/.config/Veltmark/Parlexer/Parlexer.ini"},  // empty is unset
      {nullptr, nullptr, "/tmp/Veltmark/Parlexer/Parlexer.ini"},
  };
  for (const Case& c : cases) {
    ScopedEnv xdg("XDG_CONFIG_HOME", c.xdg);
    ScopedEnv home("HOME", c.home);
    EXPECT_EQ(DefaultSettingsFile().path, c.path);
  }
}

}  // namespace
}  // namespace parlex2
