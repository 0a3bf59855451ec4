# Filter expressions: part of libamxp, kept in files of their own.
target_sources(amxp PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/src/expr_api.cpp
  ${CMAKE_CURRENT_LIST_DIR}/src/expr_lexer.cpp
  ${CMAKE_CURRENT_LIST_DIR}/src/expr_nodes.cpp
  ${CMAKE_CURRENT_LIST_DIR}/src/expr_parser.cpp
  ${CMAKE_CURRENT_LIST_DIR}/src/expr_regex.cpp
  ${CMAKE_CURRENT_LIST_DIR}/src/expr_value.cpp
  ${CMAKE_CURRENT_LIST_DIR}/src/regex_cost.cpp
)
