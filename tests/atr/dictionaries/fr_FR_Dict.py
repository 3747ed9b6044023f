# -*- coding: utf-8 -*-
# Traductions françaises des messages de l'application.
tr = {}
tr['Open'] = r'Ouvrir'
tr['Open file'] = r'Ouvrir le fichier'
tr['File %1$s saved'] = r'Fichier %1$s enregistré'
tr['Value %1$s of %2$d'] = r'Valeur %1$s sur %2$d'
tr['%1$d of %2$d elements selected'] = r'%1$d éléments sélectionnés sur %2$d'
tr['Size: %1$5.1f MB'] = r'Taille : %1$5.1f Mo'
tr['Close\@menu'] = r'Fermer'
tr['Close\@window'] = r'Fermer la fenêtre'
tr['Line one\nLine two'] = r'Première ligne\nDeuxième ligne'
tr['It\'s done'] = r'C\'est terminé'
tr['Progress: 100%%'] = r'Progression : 100 %%'
tr['OK'] = r'OK'
tr['Japanese input'] = r'Saisie en japonais : ソー'
