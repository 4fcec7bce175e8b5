// kelvor's wrapper over the real libravoacc32.so, without a board behind it:
// a failing open is reported with the library's own text, and the end-of-run
// unmap has nothing to do. Board-backed runs are the board's tests.
#include <gtest/gtest.h>
#include <stdlib.h>

#include "kelvor/spi/ravo_util.h"
#include "ravoacc32.h"
#include "tests/kelvor_ravo/recording_console.h"

namespace {

TEST(WrapperOverLibrary, FailedOpenPrintsTheLibraryText) {
    consoletest::Reset();
    setenv("RAVOACC_BOARD", "no-such-board.json", 1);
    EXPECT_EQ(InitRAVODriver(), 0);
    unsetenv("RAVOACC_BOARD");
    EXPECT_EQ(consoletest::Printed,
              "P:RAVOUtil: Error during RAVO Call: RavoInit: cannot read the board file "
              "\"no-such-board.json\" named by RAVOACC_BOARD: No such file or directory \n");
    // The end-of-run release after a failed open.
    EXPECT_EQ(RAVOUnMapPhysAddress(), 1);
    EXPECT_NE(RavoDestroy(), 0);
}

}  // namespace
