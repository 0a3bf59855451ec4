// Where long work of this library lets the event loop serve readers (fw_backend_slice_points).
#pragma once

namespace fwinterface {

// Set by fw_backend_slice_points(); nullptr when no loop asked for them.
extern void (*slice_point_hook)();
extern void (*slice_point_now_hook)();

inline void slice_point() {
    if(slice_point_hook != nullptr) {
        slice_point_hook();
    }
}

// After a step that may have taken long by itself: the loop looks at its clock at once.
inline void slice_point_now() {
    if(slice_point_now_hook != nullptr) {
        slice_point_now_hook();
    }
}

}  // namespace fwinterface
