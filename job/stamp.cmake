# The output file stamp, a library of its own so the synthesis job and its
# tests can link it alone.
add_library(qx_stamp STATIC ${CMAKE_CURRENT_LIST_DIR}/output_stamp.cpp ${CMAKE_CURRENT_LIST_DIR}/output_stamp_win.cpp)
target_include_directories(qx_stamp PUBLIC ${CMAKE_SOURCE_DIR})
