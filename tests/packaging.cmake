# The manual page and the bash completion against the program's own help.
if(TARGET trackloom AND NOT WIN32)
  add_test(NAME manual_page
    COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/packaging/check_manual_page.sh
            $<TARGET_FILE:trackloom> ${TRACKLOOM_MANUAL_SOURCE} ${TRACKLOOM_MANUAL})
  add_test(NAME bash_completion
    COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/packaging/check_completion.sh
            $<TARGET_FILE:trackloom> ${PROJECT_SOURCE_DIR}/packaging/trackloom.bash-completion)
  trackloom_label_tests(end-to-end manual_page bash_completion)
endif()
