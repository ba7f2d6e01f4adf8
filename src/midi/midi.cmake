# pv_midi: port interface, device names, opening, settings file.
add_library(pv_midi STATIC
  ${CMAKE_CURRENT_LIST_DIR}/device_enum.cpp
  ${CMAKE_CURRENT_LIST_DIR}/device_opening.cpp
  ${CMAKE_CURRENT_LIST_DIR}/settings_file.cpp
)
target_include_directories(pv_midi PUBLIC ${PROJECT_SOURCE_DIR}/src)
target_link_libraries(pv_midi PUBLIC pv_platform)

# pv_midi_memory: the in-memory backend for tests and benchmarks.
add_library(pv_midi_memory STATIC
  ${CMAKE_CURRENT_LIST_DIR}/memory_midi.cpp
)
target_link_libraries(pv_midi_memory PUBLIC pv_midi pv_platform Threads::Threads)
