if(WIN32)
  qx_add_gtest(stamp_tests SOURCES ${CMAKE_CURRENT_LIST_DIR}/output_stamp_test.cpp LIBS qx_stamp)
endif()
