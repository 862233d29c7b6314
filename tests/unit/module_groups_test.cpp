// The module groups of library/modules.h: the base group runs at start-up;
// a later group's modules are decoded from its own image and run only when
// the group is first needed, and only once.
#include "library/library.h"
#include "library/modules.h"
#include "runtime/root.h"
#include "test_support.h"

namespace kiv {
namespace {

class ModuleGroups : public test::RuntimeTest {};

TEST_F(ModuleGroups, ALaterGroupIsDecodedAndRunOnItsFirstNeedOnly) {
    char name[] = "kiv";
    char* argv[] = {name};
    library::set_command_line(1, argv);
    library::run_modules();
    EXPECT_TRUE(library::group_has_run(library::Group::BASE));
    EXPECT_FALSE(library::group_has_run(library::Group::ENGINE));
    // The engine's module (gui/engine/view.kiv) has not run: system/view
    // holds only what drawing needs.
    ASSERT_NE(system_object::field({"view", "silent?"}), nullptr);
    EXPECT_EQ(system_object::field({"view", "auto-sync?"}), nullptr);

    const uint32_t before = root::count();
    library::need_group(library::Group::ENGINE);
    EXPECT_TRUE(library::group_has_run(library::Group::ENGINE));
    // Its image was decoded into the root block only now, and its module ran.
    EXPECT_GT(root::count(), before);
    const Cell* sync = system_object::field({"view", "auto-sync?"});
    ASSERT_NE(sync, nullptr);
    EXPECT_EQ(sync->type(), TYPE_LOGIC);
    // What the base group made stays.
    EXPECT_NE(system_object::field({"view", "silent?"}), nullptr);

    // Needed again: neither decoded nor run again.
    *system_object::field({"view", "auto-sync?"}) = Cell{TYPE_NONE, 0, 0, 0};
    const uint32_t again = root::count();
    library::need_group(library::Group::ENGINE);
    EXPECT_EQ(root::count(), again);
    EXPECT_EQ(system_object::field({"view", "auto-sync?"})->type(), TYPE_NONE);

    // The console's group runs once: a second need adds nothing.
    library::need_group(library::Group::CONSOLE);
    EXPECT_TRUE(library::group_has_run(library::Group::CONSOLE));
    const uint32_t console_done = root::count();
    library::need_group(library::Group::CONSOLE);
    EXPECT_EQ(root::count(), console_done);
}

}  // namespace
}  // namespace kiv
