gw_add_test(test_amxp_expr
  SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/test_expr_semantics.cpp
    ${CMAKE_CURRENT_LIST_DIR}/test_expr_errors.cpp
  LIBS amxp
)
