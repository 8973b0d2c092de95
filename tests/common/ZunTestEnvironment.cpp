// Linked into every test: run by itself from the build folder (build/tests/<test>), a test
// finds what ctest gives it: the emulator this build made (ZUNSIM), the source folder
// (ZUN_SOURCE_DIR) and, unless a platform is named, the offscreen one, so that no test
// needs a display or opens windows on the one it has. What the environment names stays.
#include <cstdlib>

namespace
{
struct ZunTestEnvironment
{
    ZunTestEnvironment()
    {
        ::setenv("ZUNSIM", ZUN_TEST_ZUNSIM, 0);
        ::setenv("ZUN_SOURCE_DIR", ZUN_TEST_SOURCE_DIR, 0);
        ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    }
};
// Before main, so before any test makes its application object.
const ZunTestEnvironment environment;
} // namespace
