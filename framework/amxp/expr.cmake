# Filter expressions: part of libamxp, kept in files of their own.
target_sources(amxp PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/src/expr_api.cpp
  ${CMAKE_CURRENT_LIST_DIR}/src/expr_lexer.cpp
  ${CMAKE_CURRENT_LIST_DIR}/src/expr_nodes.cpp
  ${CMAKE_CURRENT_LIST_DIR}/src/expr_parser.cpp
  ${CMAKE_CURRENT_LIST_DIR}/src/regex.cpp
  ${CMAKE_CURRENT_LIST_DIR}/src/expr_value.cpp
)
# Patterns come from clients: RE2 matches in linear time and bounded memory.
find_package(PkgConfig REQUIRED)
pkg_check_modules(RE2 REQUIRED IMPORTED_TARGET re2)
target_link_libraries(amxp PRIVATE PkgConfig::RE2)
