# Writes the label files of the example atlas from the cities' point file:
# cities_id.pts (each city with its number as attribute), cities.loc (where
# each name goes: origin, size in points, offset in millimetres) and
# cities.lbn (the names). cmake -DIN=cities.pts -DOUT=dir -P labels.cmake
file(STRINGS ${IN} lines)
set(pts "; the cities with their numbers\n")
set(loc "; id origin size dx dy\n")
set(lbn "; id name\n")
set(n 0)
foreach(line IN LISTS lines)
  if(line MATCHES "^[ \t]*([-+0-9.]+)[ \t]+([-+0-9.]+)[ \t]*;[ \t]*(.*)$")
    math(EXPR n "${n} + 1")
    string(STRIP "${CMAKE_MATCH_3}" name)
    string(APPEND pts "${CMAKE_MATCH_1} ${CMAKE_MATCH_2} ${n}\n")
    string(APPEND loc "${n} 11 7 1.5 1.0\n")
    string(APPEND lbn "${n} ${name}\n")
  endif()
endforeach()
file(WRITE ${OUT}/cities_id.pts "${pts}")
file(WRITE ${OUT}/cities.loc "${loc}")
file(WRITE ${OUT}/cities.lbn "${lbn}")
