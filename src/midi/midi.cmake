# pv_midi: port interface, device names, opening, settings file.
add_library(pv_midi INTERFACE)
target_include_directories(pv_midi INTERFACE ${PROJECT_SOURCE_DIR}/src)
target_link_libraries(pv_midi INTERFACE pv_platform)

# pv_midi_memory: the in-memory backend for tests and benchmarks.
add_library(pv_midi_memory STATIC
  ${CMAKE_CURRENT_LIST_DIR}/memory_midi.cpp
)
target_link_libraries(pv_midi_memory PUBLIC pv_midi pv_platform Threads::Threads)
