#include <gtest/gtest.h>

#include "common/owner_stack.h"

namespace parlex2 {
namespace {

TEST(OwnerStack, TopDialogOwnsThenBaseComesBackWhateverOrderTheyEnd) {
  int mainWindow = 0, connect = 0, choose = 0;
  OwnerStack<int*> owners;
  EXPECT_EQ(owners.Current(), nullptr);
  owners.SetBase(&mainWindow);
  EXPECT_EQ(owners.Current(), &mainWindow);

  owners.Push(&connect);
  owners.Push(&choose);
  EXPECT_EQ(owners.Current(), &choose);
  owners.Remove(&choose);
  EXPECT_EQ(owners.Current(), &connect);

  // Out of order: the inner dialog stays on top after the outer one goes.
  owners.Push(&choose);
  owners.Remove(&connect);
  EXPECT_EQ(owners.Current(), &choose);
  owners.Remove(&choose);
  owners.Remove(&choose);  // a second removal changes nothing
  EXPECT_EQ(owners.Current(), &mainWindow);
}

}  // namespace
}  // namespace parlex2
