# The filter module: its pure pieces called directly, its records and exports, and a
# check of the built module file's export and import tables.
trackloom_add_test(module_tests
  SOURCES module_preview_test.cpp module_script_test.cpp module_render_test.cpp
          module_registration_test.cpp
  LIBS trackloom_module)

if(WIN32)
  set(module_file_kind pe)
else()
  set(module_file_kind elf)
endif()
add_test(NAME module_file
  COMMAND ${CMAKE_COMMAND} -DOBJDUMP=${CMAKE_OBJDUMP} -DMODULE=$<TARGET_FILE:trackloom_vdf>
          -DKIND=${module_file_kind} -P ${CMAKE_CURRENT_SOURCE_DIR}/module/check_module_file.cmake)
trackloom_label_tests(end-to-end module_file)
