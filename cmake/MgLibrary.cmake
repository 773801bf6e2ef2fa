# One static library per subsystem folder; sources are picked up from the folder so that adding a
# file needs no edit here.
function(mg_library name)
    cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
    file(GLOB _src CONFIGURE_DEPENDS
        ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/*.h ${CMAKE_CURRENT_SOURCE_DIR}/*.qrc)
    add_library(${name} STATIC ${_src})
    target_include_directories(${name} PUBLIC ${CMAKE_CURRENT_SOURCE_DIR} ${CMAKE_SOURCE_DIR})
    target_link_libraries(${name} PUBLIC ${ARG_DEPS})
    if(MG_BOX_BUILD)
        target_compile_definitions(${name} PUBLIC MG_BOX_BUILD=1)
    endif()
endfunction()

# Every tests/<folder>/tst_*.cpp becomes one Qt Test executable registered in CTest; extra sources
# shared by a folder's tests live beside them without the tst_ prefix.
function(mg_test_folder folder)
    cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
    file(GLOB _tests CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/${folder}/tst_*.cpp)
    file(GLOB _extra CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/${folder}/*.cpp)
    list(FILTER _extra EXCLUDE REGEX "/tst_[^/]*\\.cpp$")
    foreach(_t ${_tests})
        get_filename_component(_n ${_t} NAME_WE)
        set(_target ${folder}_${_n})
        add_executable(${_target} ${_t} ${_extra})
        target_link_libraries(${_target} PRIVATE mg_testsupport ${ARG_DEPS} Qt5::Test)
        target_include_directories(${_target} PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/${folder})
        # Tests listed in MG_NETNS_TESTS bind fixed ports or start the whole program: each runs in a
        # network namespace of its own, so they need no RUN_SERIAL and nothing else can answer them.
        if("${folder}/${_n}" IN_LIST MG_NETNS_TESTS)
            add_test(NAME ${folder}/${_n} COMMAND ${MG_NETNS_RUN} $<TARGET_FILE:${_target}>)
            set_tests_properties(${folder}/${_n} PROPERTIES SKIP_RETURN_CODE 77)
        else()
            add_test(NAME ${folder}/${_n} COMMAND ${_target})
        endif()
        set_tests_properties(${folder}/${_n} PROPERTIES
            ENVIRONMENT "QT_QPA_PLATFORM=offscreen;TZ=UTC;MG_SHIPPED_DIR=${MG_SHIPPED_DIR};ASAN_OPTIONS=detect_leaks=0"
            TIMEOUT 600)
        # Tests of code that runs on several threads also run under ThreadSanitizer (scripts/tsan.sh);
        # a test joins that set by having "thread" in its file name. The TCP message tests (tst_tcp*) join
        # it as a whole: their sessions and reactors hand bytes and records between threads.
        if(_n MATCHES "thread" OR _n MATCHES "^tst_tcp")
            set_tests_properties(${folder}/${_n} PROPERTIES LABELS thread)
        endif()
    endforeach()
endfunction()
