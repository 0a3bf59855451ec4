// Every allocation an operation makes is made to fail in turn: the operation
// must then report failure, leave its containers as they were, and leak
// nothing.
#include <amxc/amxc.h>

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "failing_allocator.h"
#include "var_test_util.h"

namespace {

using amxc_test::dump;
using amxc_test::Var;

struct Scenario {
    std::function<void()> setup;
    std::function<int()> op;             // 0 on success
    std::function<std::string()> state;  // must read the same after a failure
    std::function<void()> teardown;
};

void exercise(const Scenario& s) {
    if(!failing_allocator_works()) {
        GTEST_SKIP() << "allocation failures cannot be injected here";
    }
    for(long n = 0;; ++n) {
        long live_before = failing_allocator_live_blocks();
        s.setup();
        std::string* before = new std::string(s.state());
        failing_allocator_fail_after(n);
        int rv = s.op();
        bool injected = failing_allocator_disarm();
        if(injected && rv != 0) {
            EXPECT_EQ(s.state(), *before) << "allocation " << n;
        }
        delete before;
        s.teardown();
        EXPECT_EQ(failing_allocator_live_blocks(), live_before) << "leak at allocation " << n;
        if(!injected) {
            EXPECT_EQ(rv, 0);
            EXPECT_GT(n, 0) << "the operation should allocate";
            return;
        }
    }
}

void fill_table(amxc_var_t* table) {
    amxc_var_set_type(table, AMXC_VAR_ID_HTABLE);
    amxc_var_add_key(cstring_t, table, "a", "A");
    amxc_var_t* list = amxc_var_add_new_key_list(table, "l");
    amxc_var_add(uint32_t, list, 1);
    amxc_var_add(cstring_t, list, "two");
    amxc_var_add_new_key_htable(table, "t");
}

TEST(AllocationFailure, CopyLeavesDestinationUntouched) {
    Var* dest = nullptr;
    Var* src = nullptr;
    exercise({[&] {
                  dest = new Var(amxc_test::text("old"));
                  src = new Var(fill_table);
              },
              [&] { return amxc_var_copy(dest->get(), src->get()); },
              [&] { return dump(*dest); },
              [&] {
                  delete dest;
                  delete src;
              }});
}

TEST(AllocationFailure, StoringInTables) {
    Var* table = nullptr;
    Var* data = nullptr;
    amxc_var_t* owned = nullptr;
    auto setup = [&] {
        table = new Var(fill_table);
        data = new Var(fill_table);
    };
    auto state = [&] { return dump(*table) + dump(*data); };
    auto teardown = [&] {
        delete table;
        delete data;
    };
    exercise({setup, [&] { return amxc_var_set_key(table->get(), "new", data->get(), AMXC_VAR_FLAG_COPY); },
              state, teardown});
    exercise({setup,
              [&] {
                  return amxc_var_set_key(table->get(), "l", data->get(), AMXC_VAR_FLAG_COPY | AMXC_VAR_FLAG_UPDATE);
              },
              state, teardown});
    exercise({setup,
              [&] { return amxc_var_add_key(cstring_t, table->get(), "a", "replacement") != nullptr ? 0 : -1; },
              state, teardown});
    exercise({[&] {
                  table = new Var(fill_table);
                  amxc_var_new(&owned);
                  amxc_var_set(cstring_t, owned, "v");
              },
              [&] { return amxc_var_set_key(table->get(), "fresh key", owned, AMXC_VAR_FLAG_DEFAULT); },
              [&] { return dump(*table) + std::to_string(amxc_var_get_parent(owned) != nullptr); },
              [&] {
                  if(amxc_var_get_parent(owned) == nullptr) {
                      amxc_var_delete(&owned);
                  }
                  delete table;
              }});
}

}  // namespace
