# -*- coding: utf-8 -*-
# Deutsche Übersetzungen.
tr = {}
tr['Open'] = r'Öffnen'
tr['Open file'] = r'Datei öffnen'
tr['File %1$s saved'] = r'Datei %1$s gespeichert'
tr['Value %1$s of %2$d'] = r'%2$d von %1$s'
tr['%1$d of %2$d elements selected'] = r'%1$d von %2$d Elementen ausgewählt'
tr['Size: %1$5.1f MB'] = r'Größe: %1$5.1f MB'
tr['Close\@menu'] = r'Schließen'
tr['Close\@window'] = r'Fenster schließen'
tr['Street'] = r'Straße'
