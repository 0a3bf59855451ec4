// Start of the module from a tree without the module's root. (The vendor prefix is an
// import test; what stop leaves in the firewall a references test.)
#include <unistd.h>

#include <cstdio>
#include <fstream>

#include "module_fixture.h"

namespace {

class ModuleStartManual : public ModuleTest {
protected:
    ModuleStartManual() { autostart_ = false; }
};

TEST_F(ModuleStartManual, ADefinitionWithoutTheRootStillStarts) {
    char path[] = "/tmp/ns-no-root-XXXXXX.def";
    const int fd = mkstemps(path, 4);
    ASSERT_GE(fd, 0);
    close(fd);
    std::ofstream(path) << "import \"networksettings-qk.so\" as \"ns\";\n"
                           "entry-point ns._networksettings_main;\n"
                           "%define { object Device { string Name; } }\n";
    start("", path);
    std::remove(path);

    EXPECT_EQ(api_.get_root(), nullptr);
    EXPECT_EQ(api_.get_ctx(), module_.ctx) << "the context serving Device. is found all the same";
    EXPECT_EQ(count("*        networksettings service started      *"), 1);
}

}  // namespace
