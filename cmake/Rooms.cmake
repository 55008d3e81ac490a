# The rooms of the source tree as the build sees them. Each room is a library
# of its own with an include root of its own under the build folder: a folder
# that holds, as links, only the room's entries of src/. A room's target
# exposes its root, and through what it links the roots of the rooms below it,
# so an include that names a room above (or beside) it finds no file and the
# build stops there.

# kestrel_room(TARGET ENTRY...): ENTRY is a folder of src/ (the room's own
# headers, included as "room/File.h") or a header at the top of src/.
function(kestrel_room target)
  set(root ${PROJECT_BINARY_DIR}/rooms/${target})
  file(MAKE_DIRECTORY ${root})
  foreach(entry IN LISTS ARGN)
    file(CREATE_LINK ${PROJECT_SOURCE_DIR}/src/${entry} ${root}/${entry} SYMBOLIC)
  endforeach()
  target_include_directories(${target} PUBLIC ${root})
endfunction()
