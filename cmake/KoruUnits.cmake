include(GoogleTest)

# koru_library(name DIR <folder> LIBS <deps...>): a static library of every .cpp in the folder.
function(koru_library name)
    cmake_parse_arguments(ARG "" "" "LIBS" ${ARGN})
    file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/*.h
         ${CMAKE_CURRENT_SOURCE_DIR}/*.ui)
    add_library(${name} STATIC ${sources})
    target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
    target_link_libraries(${name} PUBLIC ${ARG_LIBS})
endfunction()

# add_unit_test(name SOURCES <files...> LIBS <libs...> [LABEL <label>]): one gtest executable,
# each case in CTest.
function(add_unit_test name)
    cmake_parse_arguments(ARG "" "LABEL" "SOURCES;LIBS" ${ARGN})
    add_executable(${name} ${ARG_SOURCES})
    target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gmock)
    target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/tests)
    gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60
        PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen" TIMEOUT 120 LABELS "${ARG_LABEL}")
endfunction()

# add_folder_tests(LIBS <libs...>): one test executable per *Test.cpp in the current folder. Its
# cases carry the folder's name as label, and the target tests_<folder> builds them all, so that
# a slow build (the sanitizer runs) can build and run one folder's tests alone.
function(add_folder_tests)
    cmake_parse_arguments(ARG "" "" "LIBS" ${ARGN})
    get_filename_component(folder ${CMAKE_CURRENT_SOURCE_DIR} NAME)
    if(NOT TARGET tests_${folder})
        add_custom_target(tests_${folder})
    endif()
    file(GLOB tests CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*Test.cpp)
    foreach(src ${tests})
        get_filename_component(stem ${src} NAME_WE)
        add_unit_test(${folder}_${stem} SOURCES ${src} LIBS ${ARG_LIBS} LABEL ${folder})
        add_dependencies(tests_${folder} ${folder}_${stem})
    endforeach()
endfunction()
