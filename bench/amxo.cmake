# Definition loader: cost of loading definitions and of the filters its event bindings add.
gw_add_bench(bench_amxo SOURCES bench_amxo.cpp LIBS amxo amxd amxp amxc)
