// Every allocation an operation makes is made to fail in turn: the operation
// must then report failure, leave its containers as they were, and leak
// nothing.
#include <amxc/amxc.h>

#include <gtest/gtest.h>

#include <cstdlib>
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
    // Probe: is the replacement allocator in effect (it is not under tools
    // that bring their own)?
    failing_allocator_fail_after(0);
    void* volatile probe = std::malloc(1);  // volatile: the call may not be elided
    bool works = failing_allocator_disarm();
    std::free(probe);
    if(!works) {
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

TEST(AllocationFailure, CastAndConvert) {
    Var* var = nullptr;
    Var* dest = nullptr;
    exercise({[&] { var = new Var(amxc_test::text("a, b,c ,d")); },
              [&] { return amxc_var_cast(var->get(), AMXC_VAR_ID_LIST); },
              [&] { return dump(*var); },
              [&] { delete var; }});
    exercise({[&] {
                  var = new Var(fill_table);
                  dest = new Var();
              },
              [&] { return amxc_var_convert(dest->get(), var->get(), AMXC_VAR_ID_LIST); },
              [&] { return dump(*var) + dump(*dest); },
              [&] {
                  delete var;
                  delete dest;
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

TEST(AllocationFailure, ReadingCopiesAndTexts) {
    Var* table = nullptr;
    amxc_var_t* copy = nullptr;
    char* text = nullptr;
    exercise({[&] { table = new Var(fill_table); },
              [&] {
                  copy = amxc_var_get_pathf(table->get(), AMXC_VAR_FLAG_COPY, "%s", "l");
                  return copy != nullptr ? 0 : -1;
              },
              [&] { return dump(*table); },
              [&] {
                  amxc_var_delete(&copy);
                  delete table;
              }});
    exercise({[&] { table = new Var(fill_table); },
              [&] {
                  text = amxc_var_get_cstring_t(amxc_var_get_key(table->get(), "l", AMXC_VAR_FLAG_DEFAULT));
                  return text != nullptr ? 0 : -1;
              },
              [&] { return dump(*table); },
              [&] {
                  std::free(text);
                  text = nullptr;
                  delete table;
              }});
}

TEST(AllocationFailure, StringsSplitAndJoin) {
    amxc_string_t s;
    amxc_llist_t list;
    auto joined = [&] {
        amxc_string_t out;
        amxc_string_init(&out, 0);
        amxc_string_join_llist(&out, &list, '|');
        std::string result = amxc_string_get(&out, 0);
        amxc_string_clean(&out);
        return result + "/" + amxc_string_get(&s, 0);
    };
    auto setup = [&] {
        amxc_string_init(&s, 0);
        amxc_string_set(&s, "x");
        amxc_llist_init(&list);
        amxc_string_t* first = nullptr;
        amxc_string_new(&first, 0);
        amxc_string_set(first, "a first item long enough to make the joined text grow");
        amxc_llist_append(&list, &first->it);
    };
    auto teardown = [&] {
        amxc_llist_clean(&list, amxc_string_list_it_free);
        amxc_string_clean(&s);
    };
    exercise({[&] {
                  setup();
                  amxc_string_set(&s, "a, b,,c");
              },
              [&] { return amxc_string_split_to_llist(&s, &list, ','); }, joined, teardown});
    exercise({setup, [&] { return amxc_string_join_llist(&s, &list, ','); }, joined, teardown});
    std::string wide(5000, 'w');
    exercise({setup, [&] { return amxc_string_appendf(&s, "%s-%d", wide.c_str(), 7); }, joined, teardown});
}

TEST(AllocationFailure, HtableGrowthFailureIsTolerated) {
    amxc_htable_t ht;
    amxc_htable_it_t items[7];
    amxc_htable_it_t extra;
    exercise({[&] {
                  amxc_htable_init(&ht, 0);
                  amxc_htable_it_init(&extra);
                  for(int i = 0; i < 6; ++i) {  // the next insert crosses the load limit
                      amxc_htable_it_init(&items[i]);
                      amxc_htable_insert(&ht, std::to_string(i).c_str(), &items[i]);
                  }
              },
              [&] { return amxc_htable_insert(&ht, "new", &extra); },
              [&] { return std::to_string(amxc_htable_size(&ht)); },
              [&] {
                  EXPECT_EQ(amxc_htable_size(&ht), extra.ht != nullptr ? 7U : 6U);
                  amxc_htable_clean(&ht, nullptr);
                  amxc_htable_it_clean(&extra, nullptr);
              }});
}

}  // namespace
