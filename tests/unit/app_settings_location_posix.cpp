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
    if (value) {
      setenv(name, value, 1);
    } else {
      unsetenv(name);
    }
  }
  ~ScopedEnv() {
    if (old_) {
      setenv(name_, old_->c_str(), 1);
    } else {
      unsetenv(name_);
    }
  }

 private:
  const char* name_;
  std::optional<std::string> old_;
};

TEST(SettingsLocationTest, XdgConfigHomeThenHomeConfigThenTmp) {
  {
    ScopedEnv xdg("XDG_CONFIG_HOME", "/x/config");
    ScopedEnv home("HOME", "/home/ann");
    EXPECT_EQ(DefaultSettingsFile().path, "/x/config/Veltmark/Parlexer/Parlexer.ini");
  }
  {
    ScopedEnv xdg("XDG_CONFIG_HOME", "");  // set but empty counts as unset
    ScopedEnv home("HOME", "/home/ann");
    EXPECT_EQ(DefaultSettingsFile().path, "/home/ann/.config/Veltmark/Parlexer/Parlexer.ini");
  }
  {
    ScopedEnv xdg("XDG_CONFIG_HOME", nullptr);
    ScopedEnv home("HOME", nullptr);
    EXPECT_EQ(DefaultSettingsFile().folder, "/tmp/Veltmark/Parlexer");
  }
}

}  // namespace
}  // namespace parlex2
