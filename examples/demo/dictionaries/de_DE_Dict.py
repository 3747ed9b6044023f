# -*- coding: utf-8 -*-
# Deutsche Meldungen des Beispielprogramms.
tr = {}
tr['Mesh of %1$d elements and %2$d nodes, %3$d of them inside'] = r'Netz aus %1$d Elementen und %2$d Knoten, davon %3$d innen'
tr['Point (%1$.2f, %2$.2f, %3$.2f) lies in %4$d elements'] = r'Der Punkt (%1$.2f, %2$.2f, %3$.2f) liegt in %4$d Elementen'
tr['A ray through the model crosses %1$d octree cells'] = r'Ein Strahl durch das Modell durchquert %1$d Oktree-Zellen'
tr['Mean nodal temperature: %1$.1f degrees'] = r'Mittlere Knotentemperatur: %1$.1f Grad'
tr['Solver: %1$d factor blocks in %2$d pools, %3$d rebuilt after purging'] = r'Löser: %1$d Faktorblöcke in %2$d Pools, %3$d nach dem Freigeben neu aufgebaut'
tr['Small blocks: %1$d node records through the small-block pool'] = r'Kleine Blöcke: %1$d Knotensätze über den Kleinblock-Pool'
