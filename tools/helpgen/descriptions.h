// One line per command for the help page: what the command does and what its
// arguments mean. helpgen refuses to write a page in which a command of the
// table has no line here, so a new command cannot go undescribed.
#pragma once

namespace helpgen {

struct Description {
  const char* command;
  const char* text;
};

inline constexpr Description kDescriptions[] = {
    {"AddCellCenters",
     "Grows the current cell index by new cell centres and writes it as a new .vix file (saveFileName, data "
     "directory); count centres are added at random (a negative count repeats the same fixed sequence), without "
     "a count you click them on the map; style draws the cell outlines (default cell.lines)."},
    {"Area",
     "Reports the area and perimeter of a region set (or the length of a line set) in km; the method is the cell "
     "method by default, s geodesic triangles, p parallels followed along equal-latitude edges, r exact "
     "ellipsoidal edges; m reports metres, k kilometres."},
    {"Call", "Runs another script as a subroutine (script.omb from the script directory), from label when one is "
             "given; Return goes back to the caller; at most 31 callers wait at once."},
    {"CenterOn", "Centres the map on an object's centre point (objectName, an object file) and sets the scale "
                 "denominator, the projection and the rotation/reflection code."},
    {"Clear", "Clears the map to its background colour; a colour (style) given first becomes the new background."},
    {"DeriveLsetInside", "Clips a line set by a region set: nameNew gets the parts of the lines of nameA that lie "
                         "inside region nameB, stored at resolution (default coordinate.resolution)."},
    {"DeriveLsetNadir",
     "Builds the ground track of a satellite (satelliteName, a .sat file) as a line set LsetName, from start "
     "date and time to end date and time, one vertex per step seconds, stored at resolution."},
    {"DeriveLsetOutside", "Clips a line set by a region set: nameNew gets the parts of the lines of nameA that "
                          "lie outside region nameB."},
    {"DerivePsetAfarLines", "Keeps the points of nameA that lie farther than proximity (metres) from every line "
                            "of nameB, as the point set nameNew."},
    {"DerivePsetCombinedAll", "Merges two point sets into nameNew keeping every point of both, repeats included, "
                              "at resolution; the word datum also compares the points' attributes."},
    {"DerivePsetCombinedUnique", "Merges two point sets into nameNew keeping each point once, at resolution; the word "
                                 "datum also compares the points' attributes."},
    {"DerivePsetCommon", "Keeps the points that nameA and nameB have in common, as nameNew at resolution; the "
                         "word datum also compares the points' attributes."},
    {"DerivePsetDuplicates", "Keeps the points of name that occur more than once (one copy each), as nameNew."},
    {"DerivePsetInside", "Keeps the points of nameA that lie inside region set nameB, as nameNew at resolution "
                         "(default coordinate.resolution)."},
    {"DerivePsetIntersectLines", "Finds the points where the lines of nameA cross the lines of nameB, as the "
                                 "point set nameNew."},
    {"DerivePsetIntersectLineSelf", "Finds the points where the lines of name cross each other, as the point set "
                                    "nameNew."},
    {"DerivePsetNearLines", "Keeps the points of nameA that lie within proximity (metres) of a line of nameB, as "
                            "nameNew."},
    {"DerivePsetOutside", "Keeps the points of nameA that lie outside region set nameB, as nameNew."},
    {"DerivePsetReduced", "Keeps one copy of every point of name, repeats removed, as nameNew."},
    {"DerivePsetTin", "Triangulates point set name into the triangulated point set (TIN) nameNew; n adds each "
                      "triangle's neighbour list to the output."},
    {"DerivePsetUnique", "Keeps only the points of name that occur exactly once, as nameNew."},
    {"DeriveRsetAfarLines",
     "Builds the region farther than distance_right and distance_left (metres, on each side) from the lines of "
     "name, as nameNew; the densities set how finely the buffer outline is drawn."},
    {"DeriveRsetAfarPoints", "Builds the region farther than distance (metres) from every point of name, as "
                             "nameNew; density sets how finely the circles are drawn."},
    {"DeriveRsetCombined", "Builds the union of region sets nameA and nameB, as nameNew."},
    {"DeriveRsetCommon", "Builds the intersection of region sets nameA and nameB, as nameNew."},
    {"DeriveRsetComplement", "Builds the complement of region set name (everything on the ellipsoid outside it), "
                             "as nameNew; without a source the result is the whole world."},
    {"DeriveRsetHullOfPoints", "Builds the convex hull of point set name as the region set nameNew."},
    {"DeriveRsetNearLines",
     "Builds the buffer within distance_right and distance_left (metres, on each side) of the lines of name, as "
     "nameNew; the densities set how finely the buffer outline is drawn."},
    {"DeriveRsetNearPoints", "Builds the region within distance (metres) of the points of name (a circle round "
                             "each), as nameNew; density sets how finely the circles are drawn."},
    {"DeriveRsetOrbit", "Builds the region under one orbit of a satellite (orbit_number counted from its epoch), "
                        "sampled every step seconds, as RsetName at resolution."},
    {"DeriveRsetSwath", "Builds the strip a satellite's sensor sees from start date and time to end date and "
                        "time, sampled every step seconds, as the region set RsetName at resolution."},
    {"DeriveRsetWindow", "Builds the region set nameNew that covers what the map window shows (its outline mapped "
                         "back onto the ellipsoid), at resolution."},
    {"DisplayArea", "Fills the regions of a region set (name, or a .plr collection) on the map with an area "
                    "style (default object.area)."},
    {"DisplayCellsBoundary", "Draws the outlines of the boundary cells of region set name (style, default "
                             "cell.lines); file writes the drawn cell numbers to a .cll text file."},
    {"DisplayCellsInterior", "Draws the outlines of the interior cells of region set name; file writes the drawn "
                             "cell numbers to a .cll text file."},
    {"DisplayCellsOccupied", "Draws the outlines of the cells that point set name occupies; file writes the "
                             "drawn cell numbers to a .cll text file."},
    {"DisplayCellsTraversed", "Draws the outlines of the cells that line set name passes through; file writes "
                              "the drawn cell numbers to a .cll text file."},
    {"DisplayLines", "Draws the lines of a line set, or the outlines of a region set or triangulation, with a "
                     "line style (default object.lines)."},
    {"DisplayPoints",
     "Draws the points of an object as markers (style, default object.points); for a line set s draws start "
     "points, e end points, b both; for a TIN p its points, v the triangle vertices, b both."},
    {"DisplaySurfaceHypso", "Renders the triangulated surface (Pset-TIN) name on the map, coloured by height "
                            "through a ramp style (default object.surface)."},
    {"DisplaySurfaceShade", "Renders the triangulated surface (Pset-TIN) name on the map as a shaded relief "
                            "through a ramp style (default object.surface)."},
    {"DrawCellCenters", "Marks the centre of every visible cell of the current index (style, default "
                        "cell.centers)."},
    {"DrawCellDuals", "Draws the dual edges that join each visible cell's centre to its neighbours' centres "
                      "(style, default cell.lines)."},
    {"DrawCellNumbers", "Writes each visible cell's number at its centre (text style, default cell.numbers)."},
    {"DrawCellOrder", "Fills each visible cell in a colour that runs from the background (cell 0) to the style's "
                      "colour (the last cell), showing the order of the cells (default cell.order)."},
    {"DrawCells", "Draws the outline of every visible cell of the current index (style, default cell.lines)."},
    {"DrawCellSpokes", "Draws lines from each visible cell's centre to the corners of its cell (style, default "
                       "cell.lines)."},
    {"DrawCoast", "Draws the coastline at the level of detail the map scale calls for (style, default "
                  "coastline)."},
    {"DrawGrid", "Draws parallels and meridians at a spacing chosen for the map scale (style, default "
                 "lat.long.grid)."},
    {"DrawHorizon", "Draws the edge of the visible hemisphere on projections that have one (style, default "
                    "lat.long.grid)."},
    {"DrawText", "Writes a text on the map at device position x y (pixels) in a text style; \\n in the text "
                 "starts a new line."},
    {"DumpObject", "Writes the full contents of an object (header, cell directory, items and vertices) as text "
                   "to dumpFileName (default: the object's name with .dmp)."},
    {"Duration", "Shows how long the last command took, as hours:minutes:seconds."},
    {"Echo", "Shows the rest of the line in the console, as written."},
    {"EnterLset", "Draws a line set on the map with the pointer, vertex by vertex, and saves it as name at "
                  "resolution (h, m, l, f or .d); Esc aborts."},
    {"EnterPset", "Clicks or drag-draws points on the map and saves them as the point set name at resolution "
                  "(h, m, l, f or .d); Esc aborts."},
    {"EnterRset", "Draws the rings of a region set on the map with the pointer and saves it as name at "
                  "resolution; Esc aborts."},
    {"EnterRsetInsideCircle", "Clicks a circle on the map (its centre, then a point on its edge) and saves the region "
                              "inside it as name; density (1 to 6) sets how many vertices the circle gets."},
    {"EnterRsetInsideSector", "Clicks a sector on the map (its centre, then two arc points) and saves the region "
                              "inside it as name; density (1 to 6) sets how finely the arc is drawn."},
    {"EnterRsetOutsideCircle", "Clicks a circle on the map (its centre, then a point on its edge) and saves the region "
                               "outside it as name; density (1 to 6) sets how many vertices it gets."},
    {"EnterRsetOutsideSector", "Clicks a sector on the map (its centre, then two arc points) and saves the region "
                               "outside it as name; density (1 to 6) sets how finely the arc is drawn."},
    {"EraseObject", "Deletes the object file objectName (data directory, .qbo)."},
    {"ExportObject",
     "Writes an object's vertices as coordinate text (coordFileName, default the object's name; .pts, .lns or "
     ".rgn choose points, lines or rings, .ptc/.lnc/.rgc the CDC integer form); formatLat and formatLng give the "
     "angle format, e.g. ddd4 or dms0."},
    {"FarthestInLset", "Reports the point on the lines of name farthest from a point you click on the map and "
                       "marks it (style)."},
    {"FarthestInPset", "Reports the point of name farthest from a point you click on the map and marks it "
                       "(style)."},
    {"Generalize", "Simplifies the lines or region boundaries of name, dropping vertices that lie within width "
                   "(metres) of the simplified line, as nameNew."},
    {"Geometry", "Sets the map's centre (latitude longitude), scale denominator, projection (stereo, ortho, "
                 "gnomonic, mercator, ...) and optional rotation/reflection code."},
    {"GoTo", "Continues the running script after the first line that is the label (written :label)."},
    {"Help", "Opens this page in the browser (html.shell.open.command, else the desktop's opener)."},
    {"IfErrorlevel", "Runs the command on the rest of the line when the previous command's error level is at "
                     "least errorLevel (0 success, 1 empty, 2 not applicable, 4 failure)."},
    {"IfExist", "Runs the command on the rest of the line when the object file (data directory, .qbo) exists."},
    {"IfNotErrorlevel", "Runs the command on the rest of the line when the previous command's error level is "
                        "below errorLevel."},
    {"IfNotExist", "Runs the command on the rest of the line when the object file does not exist."},
    {"ImportLset",
     "Builds the line set objectName from a coordinate text file (textFileName, default objectName.lns; '*' "
     "lines end a line); resolution l, m, h, f or d (with d or e for an attribute); datumFmt f reads the "
     "attribute as a float."},
    {"ImportPset",
     "Builds the point set objectName from a coordinate text file (textFileName, default objectName.pts; one "
     "latitude longitude per line); resolution l, m, h, f or d (with d or e for an attribute); datumFmt f reads "
     "the attribute as a float."},
    {"ImportRset",
     "Builds the region set objectName from a coordinate text file of rings (textFileName, default "
     "objectName.rgn; '*' lines end a ring); resolution l, m, h, f or d (with d or e for an attribute)."},
    {"Length", "Reports the length of a line set (or the area and perimeter of a region set), with the methods "
               "and units of Area."},
    {"MapFieldAspect", "Gives the map window the proportions width : height, keeping its width plus height; "
                       "without numbers it returns to its start-up size."},
    {"MapFieldSize", "Makes the map window's drawing area width x height pixels; without numbers it returns to "
                     "its start-up size and place."},
    {"NearestCells", "Draws the cells round a circle you draw with two clicks: c their centres, a their "
                     "outlines, d boundary and interior outlines in two styles."},
    {"NearestInLset", "Reports the point on the lines of name nearest to a point you click on the map and marks "
                      "it (style)."},
    {"NearestInPset", "Reports the point of name nearest to a point you click on the map and marks it (style)."},
    {"NearestInRset", "Reports the point on the boundary of region set name nearest to a point you click on the "
                      "map and marks it (style)."},
    {"NearestOrderedInPset", "Reports up to count points of name within proximity (metres) of a point you click, "
                             "nearest first, and marks them (style)."},
    {"NearLineInCollection", "Highlights the line of collection name (.plr) nearest to the pointer and shows its "
                             "name from the attribute file as you move."},
    {"NearPointInCollection", "Highlights the point of collection name (.plr) nearest to the pointer and shows "
                              "its name as you move."},
    {"OverheadRsetInCollection", "Highlights the regions of collection name (.plr) that contain the pointer and "
                                 "shows their names as you move."},
    {"OverheadSurface", "Shows the value of the triangulated surface (Pset-TIN) name under the pointer; a click "
                        "reports it with the pixel position, Esc ends."},
    {"PaintCDC", "Colours every pixel of the map by the compact direction-cosine code of the point under it, "
                 "through up to seven colour styles."},
    {"PaintCost", "Colours every pixel of the map by a cost function; psetDistance name colours by the distance "
                  "to the nearest point of name through a ramp style."},
    {"PaintDCos3", "Colours every pixel of the map by the three direction cosines of the point under it, through "
                   "up to five colour styles."},
    {"PaintLatLong", "Colours every pixel of the map by latitude and longitude through up to seven colour styles; "
                     "a final l paints by latitude only, g by longitude only."},
    {"PlotEnd", "Closes the open plot file and, when its plot format names a copy device, sends the file "
                 "there."},
    {"PlotFrame", "Draws the plot's frame rectangle (style, default frame)."},
    {"PlotInclude", "Copies the bytes of FileName into the open plot file."},
    {"PlotStart", "Opens an HPGL plot of the map in FileName with the plot format FormatName from the "
                  "initialisation file; the drawing commands then draw into it until PlotEnd."},
    {"PlotString", "Writes DeviceCommandString into the open plot file as it stands."},
    {"PtestLsetRset", "Tells whether a line set and a region set (in either order) have a point in common; bdy "
                      "also counts touching boundaries."},
    {"PtestRsetRset", "Tells whether region sets nameA and nameB have a point in common; bdy also counts "
                      "touching boundaries."},
    {"Quit", "Ends Ombrel (in a script: with the error level the line found as exit status)."},
    {"ReadDecryptVix", "Loads a cell index from an encrypted index file (ixFileName, .cix) with the given pass "
                       "phrase or key."},
    {"ReadTix", "Loads a cell index from a text index file (ixFileName, .tix) and makes it the current index."},
    {"ReadVix", "Loads a cell index file (ixFileName, .vix; default the shipped isotype.vix) and makes it the "
                "current index."},
    {"ReCenter", "Re-centres the map at the point you click; Esc leaves it as it is."},
    {"ReFrame", "Re-frames the map: click the new centre, then a point that should lie on the map's edge; Esc "
                "leaves it as it is."},
    {"ReportMapField", "Shows the size of the map window's drawing area in pixels."},
    {"ReportMapGeometry", "Shows the map's centre, scale and projection, the screen resolution and the pixel "
                          "size."},
    {"ReportMemory", "Shows the workspace's base, high-water mark and use, and the system's memory figures."},
    {"ReportRunEnvironment", "Shows the program, home, temporary, data, script and current directories and the "
                             "files in use."},
    {"ReScale", "Multiplies the map scale by scale_factor (0.01 to 100), or with d length makes the map window's "
                "diagonal show that many metres of ground."},
    {"Return", "Ends a called script and goes back to its caller; at the top level it does nothing."},
    {"SaveBitmap", "Saves the map picture as an image (.png, .jpg or .bmp by the extension); for PNG, w and t "
                   "set the writer's options."},
    {"Set", "Changes a setting for the rest of the run: the ellipsoid, boundary fuzz, resolution, script echo "
            "and pace, directories (data, script, project, current, ...) or the workspace size."},
    {"SetEnv", "Sets an environment variable for the programs Shell and Help start; an empty value removes it."},
    {"Shell", "Runs the rest of the line with /bin/sh and waits for it to end."},
    {"ShowBitmap", "Shows an image file (.png, .jpg or .bmp) in the map window."},
    {"ShowMap", "Brings the map forward and pauses the script for secs seconds (0: until Enter)."},
    {"ShowPanel", "Pauses the script for secs seconds and shows a text panel over the map in textPanelStyle; \\n "
                  "in the text starts a new line."},
    {"ShowTileset", "Draws the tiles of the current tileset that fall in the map window."},
    {"Tileset", "Sets up the map for a tileset file (.tgxm), centred on latitude longitude, on the current map "
                "centre (w), or on the tileset's own centre."},
    {"TraceOrbit", "Draws a satellite's ground track (satelliteName, .sat) from start date and time to end date "
                   "and time, one step every step seconds (style, default orbit.trace); Esc stops it."},
    {"TraceOrbitOverheadCollection", "Traces a satellite's track over a collection of region sets and reports "
                                     "the regions it passes over."},
    {"TraceOrbitOverheadRset", "Traces a satellite's track over region set RsetName and reports when it enters "
                               "and leaves it."},
    {"TraceOrbitReceivers", "Traces a satellite's track and lights up the ground receivers (receiversName, .rcv) "
                            "while they see it, reporting each pass."},
    {"TraceOrbitSwath", "Draws a satellite's ground track and the edges of its sensor's swath over the time "
                        "given."},
    {"TraceSwath", "Draws the two edges of a satellite sensor's swath over the time given (style, default "
                   "swath.trace)."},
    {"TraverseCells", "Shows the cell walk that locates a point: click points on the map and watch the cells "
                      "visited (style, default cell.lines)."},
    {"UpdateBitmap", "Copies what the map window shows, pointer traces included, into the map picture that "
                     "SaveBitmap writes."},
    {"VerifyRsetBoundary", "Checks the boundary pieces of region set RsetObjectName and reports every fault "
                           "found."},
    {"VerifyRsetIsNull", "Tells whether region set RsetObjectName is the empty region."},
    {"VerifyRsetIsWorld", "Tells whether region set RsetObjectName covers the whole ellipsoid."},
    {"VerifyRsetTopology", "Checks that the rings of region set RsetObjectName nest properly and lists the "
                           "faulty ones."},
    {"Version", "Shows the program's and the library's version and the system it runs on."},
    {"WriteTextFile", "Writes a text file (file, data directory, .txt); \\n in the text starts a new line."},
    {"Zzz", "Reserved: does nothing but say so."},
};

}  // namespace helpgen
