# The stand-in client library: a simulated adapter whose state is kept in a
# file, so that separate runs (and kivadapsim) share one adapter.
add_library(nici STATIC nicisim.cpp nicisimlib.cpp nicisimsha256.cpp)
target_link_libraries(nici PUBLIC nici_api kivwire kivdebug)

add_executable(kivadapsim kivadapsim.cpp)
target_link_libraries(kivadapsim PRIVATE nici)
