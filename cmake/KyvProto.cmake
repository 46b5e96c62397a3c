# kyv_protobuf_generate(OUT_SRCS OUT_HDRS PROTO_ROOT dir PROTOS a.proto ...)
# Runs protoc on each file (paths relative to PROTO_ROOT) and returns the generated C++ files.
# Generated files land in the binary tree under the same relative paths, so includes read
# "proto/foo.pb.h" for files of proto/.
function(kyv_protobuf_generate out_srcs out_hdrs)
  cmake_parse_arguments(P "" "PROTO_ROOT" "PROTOS" ${ARGN})
  set(srcs)
  set(hdrs)
  foreach(rel ${P_PROTOS})
    get_filename_component(dir ${rel} DIRECTORY)
    get_filename_component(stem ${rel} NAME_WE)
    set(outdir ${CMAKE_BINARY_DIR}/${dir})
    set(cc ${outdir}/${stem}.pb.cc)
    set(h ${outdir}/${stem}.pb.h)
    add_custom_command(
      OUTPUT ${cc} ${h}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${outdir}
      COMMAND protobuf::protoc --cpp_out=${CMAKE_BINARY_DIR} -I ${P_PROTO_ROOT} ${P_PROTO_ROOT}/${rel}
      DEPENDS ${P_PROTO_ROOT}/${rel} protobuf::protoc
      COMMENT "protoc ${rel}"
      VERBATIM)
    list(APPEND srcs ${cc})
    list(APPEND hdrs ${h})
  endforeach()
  set(${out_srcs} ${srcs} PARENT_SCOPE)
  set(${out_hdrs} ${hdrs} PARENT_SCOPE)
endfunction()

# Python classes of the same files, for the Python tests.
function(kyv_protobuf_generate_python target)
  cmake_parse_arguments(P "" "PROTO_ROOT" "PROTOS" ${ARGN})
  set(outs)
  foreach(rel ${P_PROTOS})
    get_filename_component(dir ${rel} DIRECTORY)
    get_filename_component(stem ${rel} NAME_WE)
    set(py ${CMAKE_BINARY_DIR}/python/${dir}/${stem}_pb2.py)
    add_custom_command(
      OUTPUT ${py}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/python
      COMMAND protobuf::protoc --python_out=${CMAKE_BINARY_DIR}/python -I ${P_PROTO_ROOT} ${P_PROTO_ROOT}/${rel}
      DEPENDS ${P_PROTO_ROOT}/${rel} protobuf::protoc
      VERBATIM)
    list(APPEND outs ${py})
  endforeach()
  add_custom_target(${target} ALL DEPENDS ${outs})
endfunction()
