# The replacement editor: its script line reader on its own, then the filter module's
# scenarios driven through it. Natively the module is linked into the scenario
# program (and its .so is loaded once with dlopen); on Windows every scenario runs
# against the built trackloom.vdf, loaded with LoadLibraryA.
trackloom_add_test(runner_tests
  SOURCES runner_script_line_test.cpp runner_editor_test.cpp
  LIBS trackloom_runner)

set(scenario_sources
  scenario_support.cpp scenario_registration_test.cpp scenario_render_test.cpp
  scenario_preview_test.cpp scenario_script_test.cpp)
if(WIN32)
  trackloom_add_test(scenario_tests SOURCES ${scenario_sources} LIBS trackloom_runner trackloom_core)
  target_compile_definitions(scenario_tests PRIVATE TRACKLOOM_MODULE_LOADED)
else()
  trackloom_add_test(scenario_tests SOURCES ${scenario_sources} LIBS trackloom_runner trackloom_module)
endif()
target_compile_definitions(scenario_tests PRIVATE TRACKLOOM_MODULE_FILE="$<TARGET_FILE:trackloom_vdf>")
add_dependencies(scenario_tests trackloom_vdf)
