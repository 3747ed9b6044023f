# -*- coding: utf-8 -*-
# A dictionary with the mistakes translators make; the dictionary checker reports each.
tr = {}
tr['Open'] = r'Ouvrir'
tr['Copy %1$s to %2$s'] = r'Copier %1$s'
tr['Delete %s'] = r'Supprimer %1$s et %2$s'
tr['%1$d files'] = r'%1$s fichiers'
tr['Save'] = r'Enregistrer'
tr['Save'] = r'Sauvegarder'
tr['Cancel'] = r'Cancel'
tr['Quit'] = r'Quitter
tr['Width'] = r'Largeur 50% du total'
x'] = r'no key'
tr['Help']=r'Aide'
tr['Tab\tstop'] = r'Tabulation\0cachée'
tr['Edit'] = r'Éditer'
tr['Open'] = r'Ouvrir'
tr['Progress: 100%'] = r'Progression : 100 %'
